# IN compressed to OUT as Debian wants its documentation compressed (gzip -9n:
# the best compression, no file name or time stamp, so that two builds give
# the same bytes):
#   cmake -DIN=... -DOUT=... -P gzip.cmake
execute_process(COMMAND gzip -9nc "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip -9n ${IN}: ${result}")
endif()
