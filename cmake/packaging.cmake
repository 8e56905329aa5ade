# What `cmake --install` puts where, and the packages CPack makes of it
# (scripts/package): a .deb and a .tar.gz from the Linux tree, a .zip from
# the Windows tree. Each package carries the license: the archives LICENSE,
# the .deb its Debian form, /usr/share/doc/zelkappmgr/copyright.

# The project's contact: the Maintainer of the .deb, its changelog and
# copyright, as the project's commits name it.
set(ZELK_CONTACT "maintainers <maintainers@users.noreply.c-seed-5bf9362a.example>")

if(WIN32)
  # The .zip: the program, the README, the license and a configuration to
  # start from, side by side in one folder.
  install(TARGETS zelkappmgr RUNTIME DESTINATION .)
  install(FILES README.md LICENSE examples/starter/zelkappmgr.ini DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(zelk_package_system windows-x86_64)
else()
  include(GNUInstallDirs)
  set(zelk_docdir ${CMAKE_INSTALL_DATADIR}/doc/zelkappmgr)

  # The manual page and the changelog compressed as Debian wants them, made
  # at every build (the changelog follows the version).
  set(zelk_manual ${ZELK_GENERATED_DIR}/zelkappmgr.1.gz)
  add_custom_command(OUTPUT ${zelk_manual}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/man/zelkappmgr.1 -DOUT=${zelk_manual}
            -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
    DEPENDS man/zelkappmgr.1 cmake/gzip.cmake
    VERBATIM)
  set(zelk_changelog ${ZELK_GENERATED_DIR}/changelog)
  add_custom_command(OUTPUT ${zelk_changelog}.gz
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DHEADER=${ZELK_GENERATED_DIR}/zelk_version.h -DCONTACT=${ZELK_CONTACT}
            -DOUT=${zelk_changelog} -P ${PROJECT_SOURCE_DIR}/cmake/changelog.cmake
    COMMAND ${CMAKE_COMMAND} -DIN=${zelk_changelog} -DOUT=${zelk_changelog}.gz
            -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
    DEPENDS ${ZELK_GENERATED_DIR}/zelk_version.h packaging/changelog cmake/changelog.cmake
            cmake/gzip.cmake
    VERBATIM)
  add_custom_target(zelk_documents ALL DEPENDS ${zelk_manual} ${zelk_changelog}.gz)
  add_dependencies(zelk_documents zelk_version)

  # The copyright file in Debian's machine-readable form, with the text of
  # LICENSE (each line indented, an empty one written " .").
  file(READ LICENSE zelk_license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" zelk_copyright "${zelk_license}")
  set(ZELK_COPYRIGHT "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*\n\n(Permission )" "\\1" ZELK_LICENSE_TEXT "${zelk_license}")
  string(STRIP "${ZELK_LICENSE_TEXT}" ZELK_LICENSE_TEXT)
  string(REPLACE "\n\n" "\n.\n" ZELK_LICENSE_TEXT "${ZELK_LICENSE_TEXT}")
  string(REPLACE "\n" "\n " ZELK_LICENSE_TEXT " ${ZELK_LICENSE_TEXT}")
  configure_file(packaging/copyright.in ${ZELK_GENERATED_DIR}/copyright @ONLY)

  # Everything: the program, its manual page and its documentation.
  install(TARGETS zelkappmgr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${zelk_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md examples/starter/zelkappmgr.ini examples/Dockerfile
                ${zelk_changelog}.gz
          DESTINATION ${zelk_docdir})
  # An install under a prefix and the .tar.gz: the license as it is.
  install(FILES LICENSE DESTINATION ${zelk_docdir} COMPONENT license)
  # The .deb alone (installed to /usr): the copyright file, the systemd units
  # and the configuration, a conffile that names no application yet.
  install(FILES ${ZELK_GENERATED_DIR}/copyright DESTINATION ${zelk_docdir}
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES packaging/zelkappmgr.service DESTINATION lib/systemd/system
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES packaging/zelkappmgr.user.service DESTINATION lib/systemd/user
          RENAME zelkappmgr.service COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES examples/starter/zelkappmgr.ini DESTINATION /etc/zelkappmgr
          COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB TGZ)
  set(zelk_package_system linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_PACKAGE_NAME zelkappmgr)
set(CPACK_PACKAGE_VENDOR "Zelk")
set(CPACK_PACKAGE_CONTACT "${ZELK_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a fixed set of programs running")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "A console program that keeps a fixed set of other programs running on one\n"
  "machine. It reads zelkappmgr.ini from its working directory, attaches to a\n"
  "running copy of each configured executable or starts it, and starts it again\n"
  "whenever it ends. The operator lists, starts, stops and restarts them from a\n"
  "command line below a time-stamped log, or from outside with --send and\n"
  "--status; --headless runs it under a service manager or in a container.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/conffiles ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# CPack installs what is built; scripts/package builds what goes into the
# packages, and nothing else (not the tests) is built for them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The version is known for sure only once the program is built (a commit
# made since the configure changes it): the packages take it from the
# build's zelk_version.h when CPack runs. Each package takes its parts.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackVersion.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} @ONLY CONTENT [[
# Written by cmake/packaging.cmake: the built program's version for CPack.
if(EXISTS "@ZELK_GENERATED_DIR@/zelk_version.h")
  file(STRINGS "@ZELK_GENERATED_DIR@/zelk_version.h" zelk_version_line REGEX "#define ZELK_VERSION ")
  if(zelk_version_line MATCHES "\"([^\"]+)\"")
    set(CPACK_PACKAGE_VERSION "${CMAKE_MATCH_1}")
  endif()
endif()
set(CPACK_PACKAGE_FILE_NAME "zelkappmgr-${CPACK_PACKAGE_VERSION}-@zelk_package_system@")
# Of the parts installed (cmake/packaging.cmake), one package of the
# program's and those of its kind.
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL Unspecified license)
endif()
]])

include(CPack)
