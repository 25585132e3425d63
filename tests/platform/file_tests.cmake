# Tests of the text conversions, the data directory and directory trees,
# whole-file reading and writing, and the cross-process file lock.
add_executable(vorneth_text_conversion_test ${CMAKE_CURRENT_SOURCE_DIR}/text_conversion_test.cpp)
target_link_libraries(vorneth_text_conversion_test PRIVATE vorneth_platform GTest::gtest_main)
vorneth_discover_tests(vorneth_text_conversion_test unit)

add_executable(vorneth_data_directory_test ${CMAKE_CURRENT_SOURCE_DIR}/data_directory_test.cpp)
target_link_libraries(vorneth_data_directory_test PRIVATE vorneth_platform GTest::gtest_main)
target_include_directories(vorneth_data_directory_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
vorneth_discover_tests(vorneth_data_directory_test unit)

# The recorder is linked so the tests can check what the file operations trace.
add_executable(vorneth_file_test ${CMAKE_CURRENT_SOURCE_DIR}/file_test.cpp)
target_link_libraries(vorneth_file_test PRIVATE vorneth_platform quenlog_recorder GTest::gtest_main)
# The thread tests run under the thread sanitizer too; the lock test forks,
# so it stays a unit test.
vorneth_discover_tests(vorneth_file_test unit TEST_FILTER "-FileConcurrencyTest.*")
vorneth_discover_tests(vorneth_file_test concurrency TEST_FILTER "FileConcurrencyTest.*")
