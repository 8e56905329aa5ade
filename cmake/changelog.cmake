# The Debian changelog of this build: packaging/changelog, whose first entry
# is the release of the project's VERSION, and for a build between releases
# an entry of its own on top, for its version ("0.6.0+12.g1a2b3c4": the
# commits since the release and the commit), dated by its commit, so that
# the package's changelog always begins with the package's version.
#   cmake -DSOURCE_DIR=... -DHEADER=.../zelk_version.h -DCONTACT=... -DOUT=... -P changelog.cmake

file(STRINGS "${HEADER}" line REGEX "#define ZELK_VERSION ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" version "${line}")
file(READ "${SOURCE_DIR}/packaging/changelog" releases)
if(NOT version MATCHES "^([^+]+)\\+([0-9]+)\\.g([0-9a-f]+)$")
  if(NOT releases MATCHES "^zelkappmgr \\(${version}\\) ")
    message(FATAL_ERROR "packaging/changelog does not begin with the release ${version}")
  endif()
  file(WRITE "${OUT}" "${releases}")
  return()
endif()
set(release "${CMAKE_MATCH_1}")
set(commits "${CMAKE_MATCH_2}")
set(commit "${CMAKE_MATCH_3}")
find_program(ZELK_GIT NAMES git)
execute_process(COMMAND "${ZELK_GIT}" -C "${SOURCE_DIR}" log -1 --format=%cD HEAD
                OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT date)
  message(FATAL_ERROR "no date of commit ${commit} for the changelog")
endif()
file(WRITE "${OUT}"
  "zelkappmgr (${version}) UNRELEASED; urgency=medium\n\n"
  "  * Built between releases from commit ${commit}, ${commits} commits on from\n"
  "    ${release}.\n\n"
  " -- ${CONTACT}  ${date}\n\n"
  "${releases}")
