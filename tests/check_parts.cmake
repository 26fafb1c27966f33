# Checks that the CTest parts of a Qt Test program name each of its test functions exactly once,
# so that a function added later is not left out of every part.
# -DPROGRAM=... -DFUNCTIONS="a;b;c"
execute_process(COMMAND ${PROGRAM} -functions RESULT_VARIABLE status OUTPUT_VARIABLE output
                ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} -functions: exit status ${status}\n${error}")
endif()
string(REGEX MATCHALL "[A-Za-z_0-9]+\\(\\)" listed "${output}")
list(TRANSFORM listed REPLACE "\\(\\)$" "")
set(named ${FUNCTIONS})
list(SORT listed)
list(SORT named)
if(NOT listed STREQUAL named)
  string(REPLACE ";" " " listed "${listed}")
  string(REPLACE ";" " " named "${named}")
  message(FATAL_ERROR "the parts name: ${named}\nthe program has: ${listed}")
endif()
