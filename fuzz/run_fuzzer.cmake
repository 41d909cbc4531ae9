# Runs one fuzz target for a bounded time from a fresh copy of its seed corpus, so that the
# inputs it discovers never land in the source tree. Usage (from CTest):
#   cmake -DFUZZER=<exe> -DCORPUS=<seed dir> -DWORK=<scratch dir> -DSECONDS=<n> -P run_fuzzer.cmake
# FUZZ_SECONDS in the environment overrides SECONDS.
if(DEFINED ENV{FUZZ_SECONDS})
  set(SECONDS $ENV{FUZZ_SECONDS})
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds ${CORPUS}/*)
if(seeds)
  file(COPY ${seeds} DESTINATION ${WORK}/corpus)
endif()
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=25
          -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the crashing input is in ${WORK}/artifacts")
endif()
