# The frame codec shared by the host, the command-line client, the
# end-to-end test harness and the benchmarks.
add_library(vorneth_frame STATIC ${CMAKE_CURRENT_LIST_DIR}/frame_codec.cpp)
target_include_directories(vorneth_frame PUBLIC ${PROJECT_SOURCE_DIR}/src)
