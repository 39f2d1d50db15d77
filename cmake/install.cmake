# Installation and the Debian package.
#
# The program looks for initial.txt beside its real executable, so both go together into
# <prefix>/lib/smfdump; <prefix>/bin/smfdump is a relative symbolic link to ../lib/smfdump/smfdump, which
# the program resolves to its real folder. The manual page goes to <prefix>/share/man/man1.
#
#   cmake --install build --prefix /usr/local      (DESTDIR=... works as well)
#   cd build && cpack -G DEB

set(SMFDUMP_MAN_PAGE ${CMAKE_SOURCE_DIR}/man/smfdump.1)

if(WIN32)
  # No symbolic links and no manual pages there: the executable and its names file side by side.
  install(TARGETS smfdump RUNTIME DESTINATION bin)
  install(FILES ${CMAKE_SOURCE_DIR}/data/initial.txt DESTINATION bin)
else()
  set(SMFDUMP_INSTALL_BINDIR bin)
  set(SMFDUMP_INSTALL_PKGDIR lib/smfdump)
  set(SMFDUMP_INSTALL_MANDIR share/man/man1)

  install(TARGETS smfdump RUNTIME DESTINATION ${SMFDUMP_INSTALL_PKGDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/data/initial.txt DESTINATION ${SMFDUMP_INSTALL_PKGDIR})

  # The link is made once in the build tree (dangling there) and installed as a link: install(FILES)
  # copies a symbolic link as a link, so it honours DESTDIR and CPack's staging like any other file.
  file(RELATIVE_PATH smfdump_link_target /${SMFDUMP_INSTALL_BINDIR} /${SMFDUMP_INSTALL_PKGDIR}/smfdump)
  set(smfdump_link ${CMAKE_BINARY_DIR}/install-link/smfdump)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-link)
  file(CREATE_LINK ${smfdump_link_target} ${smfdump_link} SYMBOLIC)
  install(FILES ${smfdump_link} DESTINATION ${SMFDUMP_INSTALL_BINDIR})

  # The manual page, compressed as Debian wants it (gzip -n: no name or time stamp, the same bytes
  # on every build).
  find_program(SMFDUMP_GZIP gzip)
  if(SMFDUMP_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/smfdump.1.gz
      COMMAND ${SMFDUMP_GZIP} -9 -n -c ${SMFDUMP_MAN_PAGE} > ${CMAKE_BINARY_DIR}/smfdump.1.gz
      DEPENDS ${SMFDUMP_MAN_PAGE}
      VERBATIM)
    add_custom_target(smfdump_man_page ALL DEPENDS ${CMAKE_BINARY_DIR}/smfdump.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/smfdump.1.gz DESTINATION ${SMFDUMP_INSTALL_MANDIR})
  else()
    install(FILES ${SMFDUMP_MAN_PAGE} DESTINATION ${SMFDUMP_INSTALL_MANDIR})
  endif()
endif()

# Packaging.
set(SMFDUMP_PACKAGE_MAINTAINER "smfdump maintainers <maintainers@users.noreply.c-seed-0a4ca15b.example>"
  CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME smfdump)
set(CPACK_PACKAGE_VENDOR "smfdump maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description, in lines short enough for Debian's tools.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "smfdump asks for the name of a Standard MIDI File and writes a listing of it"
  "to default.txt in the current folder: the header chunk, then every track, one"
  "line per event with its track number, its position as measure:beat:tick and"
  "the decoded event (note names, channels, controller and program names,"
  "system-exclusive data in hex, tempo, time and key signatures). Program names"
  "come from initial.txt beside the executable, a General MIDI list that the"
  "user may edit.")
set(CPACK_PACKAGE_CONTACT "${SMFDUMP_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES TRUE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)  # smfdump.exe and initial.txt side by side
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/default\\\\.txt$")

set(CPACK_DEBIAN_PACKAGE_NAME smfdump)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SMFDUMP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The dependencies are settled when the package is built, not when the project is configured: with
# dpkg-shlibdeps (package dpkg-dev) at hand they are worked out from the executable, with versions;
# without it libc6 and libstdc++6 are declared by hand, the only libraries the program links.
# `cpack -G DEB -D SMFDUMP_DPKG_SHLIBDEPS=OFF` declares them by hand even where dpkg-shlibdeps is.
set(smfdump_cpack_config ${CMAKE_BINARY_DIR}/smfdump_cpack_config.cmake)
file(WRITE ${smfdump_cpack_config} [[
# Written by cmake/install.cmake; read by cpack for every package it builds.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(SMFDUMP_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(SMFDUMP_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")  # the C++ runtime is linked into the program
  endif()
endif()
]])
set(CPACK_PROJECT_CONFIG_FILE ${smfdump_cpack_config})

include(CPack)
