# Installation, the Debian package and the Windows zip.
#
# The program looks for initial.txt beside its real executable, so both go together into
# <prefix>/lib/smfdump; <prefix>/bin/smfdump is a relative symbolic link to ../lib/smfdump/smfdump, which
# the program resolves to its real folder. The manual page goes to <prefix>/share/man/man1.
#
# The Debian package (component "debian", left out of a plain installation) differs in one point: the
# names file is a configuration file, /etc/smfdump/initial.txt, so that an upgrade keeps a user's edits;
# /usr/lib/smfdump/initial.txt is a link to it. The package also carries its copyright, changelog and
# lintian overrides. On Windows the executable, the names file, README.txt and LICENSE.txt lie side by
# side, the text files with CR LF line ends; cpack -G ZIP packs them below one top folder.
#
#   cmake --install build --prefix /usr/local      (DESTDIR=... works as well)
#   cd build && cpack -G DEB
#   cd build-win && cpack -G ZIP

set(SMFDUMP_MAN_PAGE ${CMAKE_SOURCE_DIR}/man/smfdump.1)

if(WIN32)
  # No symbolic links and no manual pages there: everything in one folder, the text files with the
  # line ends Notepad expects, converted when the build runs.
  install(TARGETS smfdump RUNTIME DESTINATION .)
  set(smfdump_windows_texts)
  foreach(pair IN ITEMS "data/initial.txt=initial.txt" "packaging/windows/README.txt=README.txt"
                        "LICENSE=LICENSE.txt")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/windows/${to}
      COMMAND ${CMAKE_COMMAND} -DFROM=${CMAKE_SOURCE_DIR}/${from} -DTO=${CMAKE_BINARY_DIR}/windows/${to}
              -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
      DEPENDS ${CMAKE_SOURCE_DIR}/${from} ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
      VERBATIM)
    list(APPEND smfdump_windows_texts ${CMAKE_BINARY_DIR}/windows/${to})
  endforeach()
  add_custom_target(smfdump_windows_texts ALL DEPENDS ${smfdump_windows_texts})
  install(FILES ${smfdump_windows_texts} DESTINATION .)
else()
  set(SMFDUMP_INSTALL_BINDIR bin)
  set(SMFDUMP_INSTALL_PKGDIR lib/smfdump)
  set(SMFDUMP_INSTALL_MANDIR share/man/man1)

  install(TARGETS smfdump RUNTIME DESTINATION ${SMFDUMP_INSTALL_PKGDIR})
  # A stripped executable (cpack, cmake --install --strip) also loses the compilers' version notes in
  # .comment, as Debian's own packages do.
  if(CMAKE_OBJCOPY)
    install(CODE "set(smfdump_objcopy \"${CMAKE_OBJCOPY}\")
      set(smfdump_installed \"${SMFDUMP_INSTALL_PKGDIR}/smfdump\")")
    install(CODE [[
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND "${smfdump_objcopy}" --remove-section=.comment
                                "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${smfdump_installed}"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()
    ]])
  endif()
  # A plain installation: the names file itself beside the executable.
  install(FILES ${CMAKE_SOURCE_DIR}/data/initial.txt DESTINATION ${SMFDUMP_INSTALL_PKGDIR} COMPONENT names)

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

  # The Debian package only (cpack packs this component instead of "names"). The link to the
  # configuration file crosses from /usr to /etc, so it is absolute, as Debian wants such links.
  set(smfdump_debian ${CMAKE_SOURCE_DIR}/packaging/debian)
  install(FILES ${CMAKE_SOURCE_DIR}/data/initial.txt DESTINATION /etc/smfdump
    COMPONENT debian EXCLUDE_FROM_ALL)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-link/debian)
  file(CREATE_LINK /etc/smfdump/initial.txt ${CMAKE_BINARY_DIR}/install-link/debian/initial.txt SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/install-link/debian/initial.txt DESTINATION ${SMFDUMP_INSTALL_PKGDIR}
    COMPONENT debian EXCLUDE_FROM_ALL)
  if(SMFDUMP_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
      COMMAND ${SMFDUMP_GZIP} -9 -n -c ${smfdump_debian}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
      DEPENDS ${smfdump_debian}/changelog
      VERBATIM)
    add_custom_target(smfdump_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
    install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/smfdump
      COMPONENT debian EXCLUDE_FROM_ALL)
  endif()
  install(FILES ${smfdump_debian}/copyright DESTINATION share/doc/smfdump COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${smfdump_debian}/lintian-overrides DESTINATION share/lintian/overrides RENAME smfdump
    COMPONENT debian EXCLUDE_FROM_ALL)
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
  "come from /etc/smfdump/initial.txt, a General MIDI list that the user may"
  "edit and that upgrades keep.")
set(CPACK_PACKAGE_CONTACT "${SMFDUMP_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES TRUE)
if(WIN32)
  # smfdump-<version>-win32.zip (win64 for a 64-bit build): one folder with the four files
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME smfdump-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME smfdump-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/default\\\\.txt$")

set(CPACK_DEBIAN_PACKAGE_NAME smfdump)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SMFDUMP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# One package of everything but the plain installation's names file, which the package replaces
# with the configuration file and its link.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The dependencies are settled when the package is built, not when the project is configured: with
# dpkg-shlibdeps (package dpkg-dev) at hand they are worked out from the executable, with versions;
# without it libc6 is declared by hand, the only library the program links (its C++ runtime is built in).
# `cpack -G DEB -D SMFDUMP_DPKG_SHLIBDEPS=OFF` declares it by hand even where dpkg-shlibdeps is.
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
