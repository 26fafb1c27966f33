# Runs one fuzz target for SECONDS on a scratch copy (WORK) of its seed corpus (SEEDS), after
# replaying the saved reproducers in CRASHES if there are any. Fails on any finding.
#   cmake -DFUZZER=... -DSEEDS=... -DCRASHES=... -DWORK=... -DSECONDS=... -P run_bounded.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(COPY "${SEEDS}/" DESTINATION "${WORK}/corpus")

# libFuzzer adds new inputs to the first directory only; the others are just read.
set(corpora "${WORK}/corpus")
if(IS_DIRECTORY "${CRASHES}")
  list(APPEND corpora "${CRASHES}")
endif()

execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
    -print_final_stats=1 "-artifact_prefix=${WORK}/artifacts/" ${corpora}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB findings "${WORK}/artifacts/*")
  message(FATAL_ERROR "${FUZZER} found a fault (exit ${result}): ${findings}")
endif()
