# Child processes started and driven over pipes.
add_executable(child_process_test ${CMAKE_CURRENT_LIST_DIR}/child_process_test.cpp)
target_link_libraries(child_process_test PRIVATE vorneth_platform GTest::gtest_main)
vorneth_discover_tests(child_process_test unit TIMEOUT 60)
