# The trace facility: in-process against the recording library, and through
# a probe program run in fresh processes for everything that depends on the
# once-per-process library lookup.

add_executable(trace_test ${CMAKE_CURRENT_SOURCE_DIR}/trace_test.cpp)
target_link_libraries(trace_test PRIVATE vorneth_platform quenlog_recorder GTest::gtest_main)
gtest_discover_tests(trace_test PROPERTIES LABELS "unit")

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
gtest_discover_tests(trace_process_test PROPERTIES LABELS "unit")

vorneth_add_trace_probe_test(trace_concurrency_test)
# gtest_discover_tests (CMake 3.25) splits a list-valued property into
# separate arguments, so a second label given through PROPERTIES is lost.
# The labels are set after discovery instead, from the list of test names
# the discovery leaves in trace_concurrency_test_TESTS.
gtest_discover_tests(trace_concurrency_test)
set(trace_concurrency_labels ${CMAKE_CURRENT_BINARY_DIR}/trace_concurrency_test_labels.cmake)
file(WRITE ${trace_concurrency_labels}
  "set_tests_properties(\${trace_concurrency_test_TESTS} PROPERTIES LABELS \"unit;concurrency\")\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${trace_concurrency_labels})
