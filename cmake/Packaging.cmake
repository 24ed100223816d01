# Installing the program, its manual page, copyright file and changelog, and
# the Debian package that CPack builds from the same rules (`cpack -G DEB` in the build directory).

include(GNUInstallDirs)

install(TARGETS zorven RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A manual page and a Debian package belong to the Linux program only.
if(WIN32)
  return()
endif()

# Writes CONTENT to FILE unless FILE holds it already, so that configuring
# again does not make everything made from FILE again.
function(zorven_write_if_changed file content)
  if(EXISTS ${file})
    file(READ ${file} old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE ${file} "${content}")
endfunction()

# The version is stated once, in project() (CMakeLists.txt). The page in
# doc/ names no version; the installed one shows it in its footer, the
# fourth argument of .TH, filled in here. Editing the page configures again.
set(zorvenManPageSource ${CMAKE_CURRENT_SOURCE_DIR}/doc/zorven.1)
set(zorvenManPage ${CMAKE_CURRENT_BINARY_DIR}/zorven.1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zorvenManPageSource})
file(READ ${zorvenManPageSource} page)
string(REGEX REPLACE "(^|\n)(\\.TH [^ \n]+ [^ \n]+ [^ \n]+) zorven "
       "\\1\\2 \"zorven ${PROJECT_VERSION}\" " stampedPage "${page}")
if(stampedPage STREQUAL page)
  message(FATAL_ERROR "doc/zorven.1: no line \".TH ZORVEN 1 date zorven ...\" to put the version in")
endif()
zorven_write_if_changed(${zorvenManPage} "${stampedPage}")

# The copyright file in Debian's machine-readable format, made from LICENSE
# so that the licence is written down once.
set(zorvenLicence ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(zorvenCopyright ${CMAKE_CURRENT_BINARY_DIR}/copyright)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zorvenLicence})
file(READ ${zorvenLicence} licence)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the licence")
endif()
set(copyrightHolder "${CMAKE_MATCH_1}")
# A long field goes on in lines that start with a space; " ." is an empty line.
string(REPLACE "\n\n" "\n.\n" licenceText "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " licenceText " ${licenceText}")
string(CONCAT copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n"
  "Comment: The program is linked dynamically against every library it uses;\n"
  " each comes in a package of its own, named in this package's dependencies,\n"
  " with its own copyright file. This package bundles none.\n"
  "\n"
  "Files: *\n"
  "Copyright: ${copyrightHolder}\n"
  "License: Expat\n"
  "\n"
  "License: Expat\n"
  "${licenceText}\n"
  "Comment: The MIT licence, as in LICENSE in the source; Debian calls it Expat.\n")
zorven_write_if_changed(${zorvenCopyright} "${copyright}")

# The release history: a Debian changelog, the newest entry first.
set(zorvenChangelog ${CMAKE_CURRENT_BINARY_DIR}/changelog)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/doc/changelog ${zorvenChangelog} COPYONLY)

# The manual page and the changelog are installed compressed, as Debian
# packages carry them; man reads the page either way. -n leaves the name and
# time out, so the bytes are the same on every build; -k keeps the file.
find_program(ZORVEN_GZIP gzip REQUIRED)
foreach(file ${zorvenManPage} ${zorvenChangelog})
  add_custom_command(
    OUTPUT ${file}.gz
    COMMAND ${ZORVEN_GZIP} -9nkf ${file}
    DEPENDS ${file}
    VERBATIM)
endforeach()
add_custom_target(zorven_package_files ALL DEPENDS ${zorvenManPage}.gz ${zorvenChangelog}.gz)
install(FILES ${zorvenManPage}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${zorvenCopyright} ${zorvenChangelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
# Stripping also drops the name of the compiler that built the program (the
# .comment section), as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zorven\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")
# Directories made for the package are 0755 whatever the umask of the one
# who builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are read off the executable by dpkg-shlibdeps, but for
# the line editor, which the program loads by its soname and no link records:
# its package is named after the soname (libedit.so.2 is in libedit2).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ZORVEN_LIBEDIT_SONAME MATCHES "^(.+)\\.so\\.([0-9]+)$")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
endif()
include(CPack)

# Installs into a temporary prefix, runs the installed program, renders the
# manual, builds the package and has lintian check it. Once is enough: the
# sanitizer build would only repeat it with a slower program, and a cross
# build could not run it.
if(ZORVEN_TESTS AND NOT ZORVEN_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME InstallAndPackage
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/install_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(InstallAndPackage PROPERTIES
                       ENVIRONMENT "CMAKE=${CMAKE_COMMAND};CPACK=${CMAKE_CPACK_COMMAND}"
                       TIMEOUT ${zorvenTestTimeout})
endif()
