# The end-to-end harness: runs vorneth-host as a child over real pipes.
# The host of this build is compiled in as the default; the environment
# variable VORNETH_HOST_UNDER_TEST overrides it at run time.
add_library(vorneth_host_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/host_process.cpp)
target_include_directories(vorneth_host_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(vorneth_host_harness PUBLIC vorneth_frame vorneth_platform vorneth_json)
if(TARGET vorneth-host)
  target_compile_definitions(vorneth_host_harness PRIVATE VORNETH_HOST_PATH="$<TARGET_FILE:vorneth-host>")
  # Whatever links the harness gets a freshly built host.
  add_dependencies(vorneth_host_harness vorneth-host)
endif()
