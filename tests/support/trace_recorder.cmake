# The recording logging library, and a variant without
# qnLogEnterFunction_PrepareEx. Both carry the logging library's real file
# name, so each lives in a folder of its own; a test puts one folder on the
# library search path, or copies the file beside an executable.
#
#   quenlog_recorder         <build>/tests/support/quenlog/libquenlog.so
#   quenlog_without_prepare  <build>/tests/support/quenlog_without_prepare/libquenlog.so
#
# Linking quenlog_recorder loads it at program start, before any trace call.
function(vorneth_add_trace_library target folder)
  add_library(${target} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/trace_recorder.cpp)
  target_include_directories(${target}
    PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests
    PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE Threads::Threads)
  if(WIN32)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME Quenlog PREFIX "")
    # Undecorated names for the __stdcall entry points.
    target_link_options(${target} PRIVATE "LINKER:--kill-at")
  else()
    set_target_properties(${target} PROPERTIES OUTPUT_NAME quenlog)
  endif()
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${folder}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${folder}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${folder})
endfunction()

vorneth_add_trace_library(quenlog_recorder quenlog)
# A test may link the recorder only to have it loaded; keep the dependency
# even where the linker would drop an unreferenced library.
if(NOT WIN32)
  target_link_options(quenlog_recorder INTERFACE "LINKER:--no-as-needed")
endif()

vorneth_add_trace_library(quenlog_without_prepare quenlog_without_prepare)
target_compile_definitions(quenlog_without_prepare PRIVATE QUENLOG_WITHOUT_PREPARE)
