# Runs irdecode on a file with bad lines: every bad line is named on stderr, the good
# trains are decoded in order, a blank line is skipped without a word, and the exit
# status reports the trouble.
execute_process(COMMAND ${IRDECODE} --edges ${INPUT} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE rc)
set(expected_out "0000\n0000\n-\n")
if(NOT out STREQUAL expected_out)
  message(FATAL_ERROR "stdout was:\n${out}")
endif()
if(err MATCHES "line 5: ")
  message(FATAL_ERROR "the blank line 5 was reported; stderr was:\n${err}")
endif()
foreach(line 4 6 7)
  if(NOT err MATCHES "line ${line}: ")
    message(FATAL_ERROR "line ${line} not reported; stderr was:\n${err}")
  endif()
endforeach()
if(rc EQUAL 0)
  message(FATAL_ERROR "exit status 0 despite bad lines")
endif()
