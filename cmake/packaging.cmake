# What `cmake --install` puts where, and the packages CPack makes of it
# (scripts/package): a .deb and a .tar.gz from the Linux tree, a .zip from
# the Windows tree.

if(WIN32)
  # The .zip: the program, the README and a configuration to start from, side
  # by side in one folder.
  install(TARGETS zelkappmgr RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(FILES examples/starter/zelkappmgr.ini DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(zelk_package_system windows-x86_64)
else()
  include(GNUInstallDirs)
  install(TARGETS zelkappmgr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/zelkappmgr.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md examples/starter/zelkappmgr.ini examples/zelkappmgr.service
                examples/Dockerfile
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB TGZ)
  set(zelk_package_system linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_PACKAGE_NAME zelkappmgr)
set(CPACK_PACKAGE_VENDOR "Zelk")
set(CPACK_PACKAGE_CONTACT "Zelk Application Manager developers")
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

# The version is known for sure only once the program is built (a commit
# made since the configure changes it): the packages take it from the
# build's zelk_version.h when CPack runs.
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
]])

include(CPack)
