# What `cmake --install` puts where, and the Debian package CPack makes of it
# (scripts/package.sh). Nothing here is built by default: the manual page is written when the
# program is installed, from the installed program's own --help.
include(GNUInstallDirs)

install(TARGETS ferrolyte RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ferrolyte.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ferrolyte)
install(CODE "
  set(man \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
  file(MAKE_DIRECTORY \"\${man}\")
  execute_process(
    COMMAND sh \"${PROJECT_SOURCE_DIR}/scripts/manpage.sh\" \"$<TARGET_FILE:ferrolyte>\"
    OUTPUT_FILE \"\${man}/ferrolyte.1\" RESULT_VARIABLE written)
  if(NOT written EQUAL 0)
    message(FATAL_ERROR \"the manual page could not be written from ferrolyte --help\")
  endif()
  # Debian keeps manual pages compressed, without a time stamp in them.
  execute_process(COMMAND gzip -9nf \"\${man}/ferrolyte.1\" RESULT_VARIABLE zipped)
  if(NOT zipped EQUAL 0)
    message(FATAL_ERROR \"the manual page could not be compressed\")
  endif()
  message(STATUS \"Installing: \${man}/ferrolyte.1.gz\")
")

set(FERROLYTE_VERSION
    ${FERROLYTE_VERSION_MAJOR}.${FERROLYTE_VERSION_MINOR}.${FERROLYTE_VERSION_REVISION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrolyte)
set(CPACK_PACKAGE_VERSION ${FERROLYTE_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane <ferrolyte@quorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move a Microsoft Access database into PostgreSQL")
set(CPACK_PACKAGE_DESCRIPTION
    "Ferrolyte converts an Access file (.mdb, .accdb) into a PostgreSQL database, directly\n\
into a server or into a SQL dump file that psql loads: tables with their keys and indexes,\n\
the rows, relationships, descriptions and saved queries. It runs as a wizard window or from\n\
the command line (ferrolyte convert, ferrolyte tables).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # ferrolyte_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries the program links come from dpkg-shlibdeps; the PostgreSQL ODBC driver is
# loaded by the driver manager when a direct transfer connects, so no link names it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "odbc-postgresql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql-client, bash-completion")
include(CPack)
