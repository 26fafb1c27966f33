# Runs the real program with ARGS and checks its exit status and what it prints, without a
# display: help, version and refusals are answered before the window system starts.
# -DPROGRAM=... -DARGS="a;b" -DEXPECT_STATUS=N -DEXPECT_OUTPUT=regex -DEXPECT_ERROR=regex
execute_process(COMMAND ${PROGRAM} ${ARGS}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT status EQUAL EXPECT_STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECT_STATUS}\n${output}${error}")
endif()
if(DEFINED EXPECT_OUTPUT AND NOT output MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "stdout does not match '${EXPECT_OUTPUT}':\n${output}")
endif()
if(DEFINED EXPECT_ERROR AND NOT error MATCHES "${EXPECT_ERROR}")
  message(FATAL_ERROR "stderr does not match '${EXPECT_ERROR}':\n${error}")
endif()
