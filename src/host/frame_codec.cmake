# The frame codec shared by the command-line client, the end-to-end test
# harness and the benchmarks. Included from src/host/CMakeLists.txt and, for
# builds where that has not happened, from its users; the guard makes the
# second inclusion a no-op.
include_guard(GLOBAL)
add_library(vorneth_frame STATIC ${CMAKE_CURRENT_LIST_DIR}/frame_codec.cpp)
target_include_directories(vorneth_frame PUBLIC ${PROJECT_SOURCE_DIR}/src)
