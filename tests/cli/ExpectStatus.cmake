# Runs the program with an unknown option and checks its exit status and message.
execute_process(COMMAND ${PROGRAM} --no-such-option
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "expected exit status 2, got '${status}'")
endif()
if(NOT err MATCHES "unknown option '--no-such-option'" OR NOT err MATCHES "Usage")
  message(FATAL_ERROR "expected the message and the usage, got: ${err}")
endif()
