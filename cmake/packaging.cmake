# The manual page and the Debian package (cpack -G DEB in the build folder:
# audiosim_<version>_<arch>.deb), byte for byte the same from the same sources.

# The manual page, and the copyright and changelog files a Debian package
# carries, compressed as man and Debian expect (-n: no name or time inside, so
# the same sources give the same bytes).
if(UNIX)
  set(gzipped ${CMAKE_CURRENT_BINARY_DIR}/audiosim.1.gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/docs/audiosim.1
            ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog ${CMAKE_CURRENT_BINARY_DIR}
    COMMAND gzip -9nf audiosim.1 changelog
    DEPENDS docs/audiosim.1 packaging/changelog VERBATIM)
  add_custom_target(audiosim_docs ALL DEPENDS ${gzipped})
  # Built with the program, so that installing after building only the
  # program finds the manual page.
  add_dependencies(audiosim audiosim_docs)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/audiosim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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

