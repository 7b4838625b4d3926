# The manual page and the Debian package (cpack -G DEB in the build folder:
# audiosim_<version>_<arch>.deb), byte for byte the same from the same sources.

# The manual pages, and the copyright and changelog files a Debian package
# carries, compressed as man and Debian expect (-n: no name or time inside, so
# the same sources give the same bytes).
if(UNIX)
  set(pages audiosim.1 audiosim-compare-tone.1 audiosim-plot-tone.1)
  list(TRANSFORM pages PREPEND ${CMAKE_CURRENT_BINARY_DIR}/ OUTPUT_VARIABLE man_gzipped)
  list(TRANSFORM man_gzipped APPEND .gz)
  set(gzipped ${man_gzipped} ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  list(TRANSFORM pages PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/docs/ OUTPUT_VARIABLE page_sources)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND ${CMAKE_COMMAND} -E copy ${page_sources} ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog
            ${CMAKE_CURRENT_BINARY_DIR}
    COMMAND gzip -9nf ${pages} changelog
    DEPENDS ${page_sources} packaging/changelog VERBATIM)
  add_custom_target(audiosim_docs ALL DEPENDS ${gzipped})
  # Built with the program, so that installing after building only the
  # program finds the manual page.
  add_dependencies(audiosim audiosim_docs)
  install(FILES ${man_gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The checker and the plot tool with their modules in the package's data
  # folder, and on PATH under names that say whose they are: links, which
  # Python follows to find the modules beside them.
  set(tools_dir ${CMAKE_INSTALL_DATADIR}/audiosim)
  install(PROGRAMS tools/compare_tone.py tools/plot_tone.py DESTINATION ${tools_dir})
  install(FILES tools/tone_cli.py tools/tone_file.py tools/tone_model.py tools/tone_trace.py
          DESTINATION ${tools_dir})
  file(RELATIVE_PATH to_tools /${CMAKE_INSTALL_BINDIR} /${tools_dir})
  foreach(tool IN ITEMS compare_tone plot_tone)
    string(REPLACE _ - name audiosim-${tool})
    file(CREATE_LINK ${to_tools}/${tool}.py ${CMAKE_CURRENT_BINARY_DIR}/${name} SYMBOLIC)
    install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/${name} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME audiosim)
set(CPACK_PACKAGE_VENDOR "the audiosim authors")
set(CPACK_PACKAGE_CONTACT "audiosim authors <audiosim@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The package's long description, as dpkg shows it (the tests compare them).
file(READ packaging/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/description)
string(STRIP "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# Values go to CPack as written: quotes in the description stay quotes.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools are Python scripts (so, by Debian's policy, a dependency on
# python3); they need numpy and libsndfile's binding, the plot matplotlib too.
set(CPACK_DEBIAN_PACKAGE_DEPENDS python3)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-numpy, python3-soundfile")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-matplotlib")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# The same sources give the same package: its files' times are those of the
# last commit (or, outside git, of the changelog) unless SOURCE_DATE_EPOCH
# says otherwise when cpack runs.
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE source_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT source_date MATCHES "^[0-9]+$")
  file(TIMESTAMP ${PROJECT_SOURCE_DIR}/packaging/changelog source_date "%s" UTC)
endif()
# cpack hands CPACK_ variables to the file that sets the date.
set(CPACK_AUDIOSIM_SOURCE_DATE ${source_date})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)
include(CPack)

