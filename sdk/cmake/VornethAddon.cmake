# Building a Vorneth add-on with CMake.
#
#   include(<sdk>/cmake/VornethAddon.cmake)
#   vorneth_add_addon(<target> SOURCES <file>... [OUTPUT_DIRECTORY <dir>])
#
# Makes the shared library the host loads: "addon.so" on Linux, "addon.dll"
# on Windows, alone in OUTPUT_DIRECTORY (default: a folder named after the
# target in the current binary folder), ready to be packed as it is. The
# target sees the SDK header (vorneth_addon.h).
#
# - Only the entry points the header marks are exported: everything else is
#   hidden, so an add-on's own symbols cannot clash with the host's or with
#   another add-on's.
# - Linux: the library finds libraries of its own in its own folder (run path
#   $ORIGIN), then in the system's; never in the current folder.
# - Windows: the C and C++ runtimes are linked in, so the DLL needs no
#   runtime DLL beside it; the host finds other DLLs of the add-on in the
#   add-on's folder.
#
#   vorneth_add_addon_dependency(<target> SOURCES <file>... ADDON <addon target>)
#
# A shared library of the add-on's own that lands beside "addon.so" /
# "addon.dll" and is found there at load time.

# The header: in the SDK's own tree (sdk/include/), or where the packages
# install it (<prefix>/include/vorneth/ for this file in
# <prefix>/lib/cmake/vorneth/).
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../include/vorneth_addon.h)
  set(VORNETH_SDK_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../include)
else()
  get_filename_component(VORNETH_SDK_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../../../include/vorneth ABSOLUTE)
endif()

function(_vorneth_addon_properties target dir)
  target_include_directories(${target} PRIVATE ${VORNETH_SDK_INCLUDE_DIR})
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "$ORIGIN"
    INSTALL_RPATH "$ORIGIN"
    BUILD_RPATH_USE_ORIGIN ON
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    RUNTIME_OUTPUT_DIRECTORY ${dir}
    # Import libraries stay out of the folder that is packed.
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${target}-import)
  if(WIN32)
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++)
  endif()
endfunction()

function(vorneth_add_addon target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "OUTPUT_DIRECTORY" "SOURCES")
  if(ARG_UNPARSED_ARGUMENTS OR NOT ARG_SOURCES)
    message(FATAL_ERROR "vorneth_add_addon(${target}): needs SOURCES")
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${target})
  endif()
  add_library(${target} SHARED ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME addon PREFIX "")
  _vorneth_addon_properties(${target} ${ARG_OUTPUT_DIRECTORY})
  set_property(TARGET ${target} PROPERTY VORNETH_ADDON_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
endfunction()

function(vorneth_add_addon_dependency target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "ADDON" "SOURCES")
  if(ARG_UNPARSED_ARGUMENTS OR NOT ARG_SOURCES OR NOT ARG_ADDON)
    message(FATAL_ERROR "vorneth_add_addon_dependency(${target}): needs SOURCES and ADDON")
  endif()
  get_target_property(dir ${ARG_ADDON} VORNETH_ADDON_DIRECTORY)
  add_library(${target} SHARED ${ARG_SOURCES})
  _vorneth_addon_properties(${target} ${dir})
  target_link_libraries(${ARG_ADDON} PRIVATE ${target})
endfunction()
