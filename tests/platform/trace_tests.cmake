# The trace facility: in-process against the recording library, and through
# a probe program run in fresh processes for everything that depends on the
# once-per-process library lookup.

add_executable(trace_test ${CMAKE_CURRENT_SOURCE_DIR}/trace_test.cpp)
target_link_libraries(trace_test PRIVATE vorneth_platform quenlog_recorder GTest::gtest_main)
vorneth_discover_tests(trace_test unit)

# The probe must not link the recorder: it has to find a library by itself.
add_executable(trace_probe ${CMAKE_CURRENT_SOURCE_DIR}/trace_probe_main.cpp)
target_link_libraries(trace_probe PRIVATE vorneth_platform)

function(vorneth_add_trace_probe_test target)
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/trace_probe_runner.cpp)
  target_link_libraries(${target} PRIVATE vorneth_platform GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    TRACE_PROBE_PATH="$<TARGET_FILE:trace_probe>"
    QUENLOG_RECORDER_DIR="$<TARGET_FILE_DIR:quenlog_recorder>"
    QUENLOG_WITHOUT_PREPARE_DIR="$<TARGET_FILE_DIR:quenlog_without_prepare>")
  add_dependencies(${target} trace_probe quenlog_recorder quenlog_without_prepare)
endfunction()

vorneth_add_trace_probe_test(trace_process_test)
vorneth_discover_tests(trace_process_test unit)

vorneth_add_trace_probe_test(trace_concurrency_test)
vorneth_discover_tests(trace_concurrency_test concurrency)
