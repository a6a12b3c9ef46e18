# Fuzzes for SECONDS on a scratch copy of the committed corpus, so that the
# inputs libFuzzer adds stay out of the source tree.
#   cmake -DFUZZER=exe -DCORPUS=dir -DSCRATCH=dir -DARTIFACTS=dir -DSECONDS=n -P RunFuzzer.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}" "${ARTIFACTS}")
file(GLOB seeds "${CORPUS}/*")
file(COPY ${seeds} DESTINATION "${SCRATCH}")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=20 -max_len=4096 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${ARTIFACTS}/ "${SCRATCH}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "The fuzzer stopped with status ${rc}; the input that broke it is in ${ARTIFACTS}")
endif()
