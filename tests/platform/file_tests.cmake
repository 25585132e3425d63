# Tests of the text conversions, the data directory and directory trees,
# whole-file reading and writing, and the cross-process file lock.
add_executable(vorneth_text_conversion_test ${CMAKE_CURRENT_SOURCE_DIR}/text_conversion_test.cpp)
target_link_libraries(vorneth_text_conversion_test PRIVATE vorneth_platform GTest::gtest_main)
gtest_discover_tests(vorneth_text_conversion_test PROPERTIES LABELS "unit")

add_executable(vorneth_data_directory_test ${CMAKE_CURRENT_SOURCE_DIR}/data_directory_test.cpp)
target_link_libraries(vorneth_data_directory_test PRIVATE vorneth_platform GTest::gtest_main)
gtest_discover_tests(vorneth_data_directory_test PROPERTIES LABELS "unit")

# The recorder is linked so the tests can check what the file operations trace.
add_executable(vorneth_file_test ${CMAKE_CURRENT_SOURCE_DIR}/file_test.cpp)
target_link_libraries(vorneth_file_test PRIVATE vorneth_platform quenlog_recorder GTest::gtest_main)
# The thread and process tests also carry the "concurrency" label. A list
# given through PROPERTIES is split into separate arguments by the discovery,
# so the second label is set afterwards from the discovered test names.
gtest_discover_tests(vorneth_file_test
  TEST_FILTER "-FileConcurrencyTest.*:FileLockTest.*"
  PROPERTIES LABELS "unit")
gtest_discover_tests(vorneth_file_test
  TEST_FILTER "FileConcurrencyTest.*:FileLockTest.*"
  TEST_LIST vorneth_file_concurrency_tests)
set(vorneth_file_concurrency_labels ${CMAKE_CURRENT_BINARY_DIR}/vorneth_file_concurrency_labels.cmake)
file(WRITE ${vorneth_file_concurrency_labels}
  "set_tests_properties(\${vorneth_file_concurrency_tests} PROPERTIES LABELS \"unit;concurrency\")\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${vorneth_file_concurrency_labels})
