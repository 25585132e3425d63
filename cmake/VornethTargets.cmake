# Helpers every folder uses to declare its targets.
#
# vorneth_library(<name>
#   [SOURCES <file>...]   compiled on every platform
#   [POSIX <file>...]     compiled on Linux (the *_posix.cpp of each pair)
#   [WIN32 <file>...]     compiled for Windows (the *_win32.cpp of each pair)
#   [LINK <target>...])   public link dependencies
#
# Each platform pair is named in full, one half under POSIX and the other
# under WIN32, so a missing or extra file fails the configure step instead of
# being picked up or dropped by a pattern.
function(vorneth_library name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;POSIX;WIN32;LINK")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vorneth_library(${name}): unexpected arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${ARG_WIN32})
  else()
    list(APPEND sources ${ARG_POSIX})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  # libFuzzer's coverage for the code under test; the fuzz targets link
  # libFuzzer, every other program the sanitizer runtime's inert hooks.
  if(VORNETH_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
endfunction()

# vorneth_module(<name> FILE <stem> SOURCES <file>... LINK <library>...)
#
# A module that the Linux host loads on demand by its full path
# (LoadModuleEntry in platform/dynamic_library.h): the shared object
# <stem>.so beside the host, in the build's bin/ and in the host's installed
# folder. The static libraries it links go in whole and keep every symbol
# inside (--exclude-libs, hidden visibility), so their copies cannot meet
# the host's: it exports only the entry point its sources mark visible. The
# libraries it links must be position-independent.
function(vorneth_module name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "FILE" "SOURCES;LINK")
  if(ARG_UNPARSED_ARGUMENTS OR NOT ARG_FILE OR NOT ARG_SOURCES)
    message(FATAL_ERROR "vorneth_module(${name}): needs FILE and SOURCES")
  endif()
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
  target_link_options(${name} PRIVATE "LINKER:--exclude-libs,ALL")
  set_target_properties(${name} PROPERTIES
    OUTPUT_NAME ${ARG_FILE} PREFIX "" SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  install(TARGETS ${name} LIBRARY DESTINATION ${VORNETH_INSTALL_HOST_DIR})
endfunction()

# vorneth_test(<name> LABEL unit|concurrency|e2e SOURCES <file>... [LINK <target>...]
#              [DISCOVERY <extra gtest_discover_tests arguments>...])
#
# One GoogleTest executable whose tests carry one label: "unit" for
# in-process tests, "concurrency" for in-process tests of threads (the
# thread-sanitizer build runs these), "e2e" for tests that drive the built
# executables. One label each, because gtest_discover_tests cannot pass a
# list-valued property through. Tests include their helpers from tests/.
function(vorneth_test name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "LABEL" "SOURCES;LINK;DISCOVERY")
  if(ARG_UNPARSED_ARGUMENTS OR NOT ARG_LABEL OR NOT ARG_SOURCES)
    message(FATAL_ERROR "vorneth_test(${name}): needs LABEL and SOURCES")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  if(VORNETH_UNITY_TESTS)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON)
  endif()
  target_compile_options(${name} PRIVATE ${VORNETH_TEST_COMPILE_OPTIONS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest_main)
  vorneth_discover_tests(${name} ${ARG_LABEL} ${ARG_DISCOVERY})
endfunction()

# Discovery with the label and the project's discovery time-out; the extra
# arguments go to gtest_discover_tests (TEST_FILTER, PROPERTIES...).
# A cross build lists the tests when ctest runs (through the emulator), not
# after linking, so building needs no emulator.
function(vorneth_discover_tests target label)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "PROPERTIES")
  set(mode POST_BUILD)
  if(CMAKE_CROSSCOMPILING)
    set(mode PRE_TEST)
  endif()
  gtest_discover_tests(${target} ${ARG_UNPARSED_ARGUMENTS}
    PROPERTIES LABELS ${label} ${ARG_PROPERTIES} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE ${mode})
endfunction()
