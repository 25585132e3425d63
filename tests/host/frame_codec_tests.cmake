# The frame codec shared by the client, the harness and the benchmarks.
add_executable(frame_codec_test ${CMAKE_CURRENT_LIST_DIR}/frame_codec_test.cpp)
target_link_libraries(frame_codec_test PRIVATE vorneth_frame GTest::gtest_main)
vorneth_discover_tests(frame_codec_test unit)
