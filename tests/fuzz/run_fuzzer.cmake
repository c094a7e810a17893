# Fuzzes one target for SECONDS seconds, starting from its committed seeds.
# New inputs go to a fresh directory under WORK_DIR, so the source tree is
# never written; a crash leaves its input there and fails the test.
foreach(variable FUZZER SEEDS WORK_DIR SECONDS MAX_LENGTH)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "run_fuzzer.cmake needs -D${variable}=...")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1 -max_len=${MAX_LENGTH}
            -artifact_prefix=${WORK_DIR}/artifacts/ ${WORK_DIR}/corpus ${SEEDS}
    RESULT_VARIABLE result)
file(GLOB crashes ${WORK_DIR}/artifacts/*)
if(NOT result EQUAL 0 OR crashes)
    message(FATAL_ERROR "${FUZZER} failed (${result}); inputs kept in ${WORK_DIR}/artifacts: ${crashes}")
endif()
