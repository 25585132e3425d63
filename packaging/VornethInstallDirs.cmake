# Where the install rules put things, relative to the install prefix.
#
# Linux (the .deb and `cmake --install`, prefix /usr): the host lives out of
# PATH in lib/vorneth/ (browsers start it from the path in its manifest), the
# tools in bin/, the SDK header in include/vorneth/, the CMake helper in
# lib/cmake/vorneth/, the logging library in lib/vorneth/quenlog/ (not beside
# the host: tracing stays off until the user copies it there with
# `vorneth-register install --trace-library`).
#
# Windows: one folder for everything, the logging library in its "quenlog"
# subfolder; the installer (packaging/windows/vorneth.nsi) has the same
# layout.
if(WIN32)
  set(VORNETH_INSTALL_HOST_DIR .)
  set(VORNETH_INSTALL_TOOL_DIR .)
  set(VORNETH_INSTALL_QUENLOG_DIR quenlog)
else()
  set(VORNETH_INSTALL_HOST_DIR lib/vorneth)
  set(VORNETH_INSTALL_TOOL_DIR ${CMAKE_INSTALL_BINDIR})
  set(VORNETH_INSTALL_QUENLOG_DIR lib/vorneth/quenlog)
  set(VORNETH_INSTALL_SDK_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/vorneth)
  set(VORNETH_INSTALL_SDK_CMAKE_DIR lib/cmake/vorneth)
endif()
