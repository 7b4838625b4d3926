# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE): the package's
# files get the date of the sources, CPACK_AUDIOSIM_SOURCE_DATE, unless
# SOURCE_DATE_EPOCH says otherwise.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_AUDIOSIM_SOURCE_DATE})
endif()
