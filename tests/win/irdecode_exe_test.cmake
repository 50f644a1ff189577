# irdecode.exe under Wine on a service log: every record decoded again beside the code
# the log recorded, the record whose code differs flagged, and the exit status saying so.
#   cmake -DEMULATOR=... -DIRDECODE=irdecode.exe -DLOG=log.txt -DEXPECTED=log.expected
#         -P irdecode_exe_test.cmake
execute_process(COMMAND ${EMULATOR} ${IRDECODE} ${LOG} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE rc)
string(REPLACE "\r\n" "\n" out "${out}")
file(READ ${EXPECTED} expected_out)
if(NOT out STREQUAL expected_out)
  message(FATAL_ERROR "stdout was:\n${out}\nstderr was:\n${err}")
endif()
if(NOT err MATCHES "1 of 6 records decode to another code")
  message(FATAL_ERROR "stderr was:\n${err}")
endif()
if(NOT rc EQUAL 3)
  message(FATAL_ERROR "exit status ${rc}, expected 3 (records differ from the log)")
endif()
