# Installing the program and its manual page, and the Debian package that
# CPack builds from the same rules (`cpack -G DEB` in the build directory).

include(GNUInstallDirs)

install(TARGETS zorven RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A manual page and a Debian package belong to the Linux program only.
if(WIN32)
  return()
endif()

# The manual page is installed compressed, as Debian packages carry it; man
# reads it either way. -n leaves the name and time out, so the bytes are the
# same on every build.
set(zorvenManPage ${CMAKE_CURRENT_SOURCE_DIR}/doc/zorven.1)
set(zorvenManPageGz ${CMAKE_CURRENT_BINARY_DIR}/zorven.1.gz)
find_program(ZORVEN_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${zorvenManPageGz}
  COMMAND ${CMAKE_COMMAND} -E copy ${zorvenManPage} ${CMAKE_CURRENT_BINARY_DIR}/zorven.1
  COMMAND ${ZORVEN_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/zorven.1
  DEPENDS ${zorvenManPage}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(zorven_man_page ALL DEPENDS ${zorvenManPageGz})
install(FILES ${zorvenManPageGz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorven)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zorven maintainers <maintainers@zorven.io>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make a converted copy of a plain text file")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "zorven is an interactive console program that makes a converted copy of a\n"
  "plain text file. It asks for the input file, one of six options and the\n"
  "output name, and changes the separators between the fields: runs of spaces\n"
  "and tabs become commas or line ends, commas become spaces or tabs, spaces\n"
  "become tabs, or the lines are re-spaced with 0 to 4 blank lines after each.\n"
  "The copy is written with CR LF line ends.")
# Debian packages live under /usr; /usr/local is the local administrator's.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are read off the executable by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

# Installs into a temporary prefix, runs the installed program, renders the
# manual and builds the package. Once is enough: the sanitizer build would
# only repeat it with a slower program, and a cross build could not run it.
if(ZORVEN_TESTS AND NOT ZORVEN_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME InstallAndPackage
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/install_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(InstallAndPackage PROPERTIES
                       ENVIRONMENT "CMAKE=${CMAKE_COMMAND};CPACK=${CMAKE_CPACK_COMMAND}"
                       TIMEOUT ${zorvenTestTimeout})
endif()
