# vorneth-cli against the built host and against stand-in hosts.
if(TARGET vorneth-cli AND TARGET vorneth-host)
  add_executable(cli_test ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp)
  target_link_libraries(cli_test PRIVATE vorneth_host_harness GTest::gtest_main)
  target_compile_definitions(cli_test PRIVATE VORNETH_CLI_PATH="$<TARGET_FILE:vorneth-cli>")
  add_dependencies(cli_test vorneth-cli)
  vorneth_discover_tests(cli_test e2e TIMEOUT 120)
endif()
