# The program's version: the project's VERSION, and for a build from a git
# checkout that is not at the release tag v<VERSION>, "+<N>.g<short commit>"
# after it, N the number of commits since the tag (since the first commit
# while there is no tag): a later snapshot sorts after an earlier one, as
# dpkg and apt compare versions, whatever the commits' names. A source tree
# outside git (a source archive, a container's build context without .git)
# or without a usable git gives the version alone.
#
# Run as a script at every build, so that a new commit shows without a new
# configure; the header is rewritten only when the text changes, so nothing
# is compiled again otherwise:
#   cmake -DSOURCE_DIR=... -DBASE_VERSION=... -DHEADER=.../zelk_version.h -P version.cmake

find_program(ZELK_GIT NAMES git)
set(version "${BASE_VERSION}")
if(ZELK_GIT)
  execute_process(COMMAND "${ZELK_GIT}" -C "${SOURCE_DIR}" rev-parse --show-toplevel HEAD
                  OUTPUT_VARIABLE git_lines RESULT_VARIABLE git_result ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(git_result EQUAL 0)
    string(REPLACE "\n" ";" git_lines "${git_lines}")
    list(GET git_lines 0 top)
    list(GET git_lines 1 head)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    # Only the tree's own repository counts, not one it was unpacked into.
    if(top STREQUAL source)
      execute_process(COMMAND "${ZELK_GIT}" -C "${SOURCE_DIR}" rev-parse -q --verify
                              "refs/tags/v${BASE_VERSION}^{commit}"
                      OUTPUT_VARIABLE tagged OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT tagged STREQUAL head)
        set(since HEAD)
        if(tagged)
          set(since "refs/tags/v${BASE_VERSION}..HEAD")
        endif()
        execute_process(COMMAND "${ZELK_GIT}" -C "${SOURCE_DIR}" rev-list --count "${since}"
                        OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        execute_process(COMMAND "${ZELK_GIT}" -C "${SOURCE_DIR}" rev-parse --short HEAD
                        OUTPUT_VARIABLE short OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(count MATCHES "^[0-9]+$" AND short)
          set(version "${version}+${count}.g${short}")
        endif()
      endif()
    endif()
  endif()
endif()

set(text "// Written by cmake/version.cmake at build time.\n#define ZELK_VERSION \"${version}\"\n")
if(EXISTS "${HEADER}")
  file(READ "${HEADER}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${HEADER}" "${text}")
endif()
