# The install rules that belong to no single target folder, and the two
# packages built from the install rules and the built files:
#
# - Linux: a .deb through CPack (`cpack -G DEB` in the build folder), for
#   the prefix /usr; its maintainer scripts (packaging/debian/) register the
#   host system-wide for the Chromium family at installation and remove that
#   at removal.
# - Windows (the cross build): an NSIS installer, target vorneth-installer
#   (packaging/windows/vorneth.nsi).
#
# Where the files go: packaging/VornethInstallDirs.cmake. The targets'
# install rules stand beside the targets (vorneth-register in tools/, quenlog
# in quenlog/); the SDK's, which has no build of its own here, below.

# The extensions the packages allow: the example extension (its identifier
# follows from the key in its manifest.json) and Firefox's default.
set(VORNETH_EXTENSION_ID ejjloefkknaejngfkaglfogdnpnjlgcp)
set(VORNETH_FIREFOX_EXTENSION_ID vorneth@vorneth.org)

if(NOT WIN32)
  # The SDK for add-on authors: the header, and the CMake helper, which
  # finds the header in include/vorneth/ from there.
  install(FILES ${PROJECT_SOURCE_DIR}/sdk/include/vorneth_addon.h DESTINATION ${VORNETH_INSTALL_SDK_INCLUDE_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/sdk/cmake/VornethAddon.cmake DESTINATION ${VORNETH_INSTALL_SDK_CMAKE_DIR})

  # The system manifest folders are not the package's: vorneth-register
  # makes them in postinst and removes them in prerm when they are left
  # empty, but never the folders they share (/etc/opt), which dpkg would
  # remove with the package even when they were there before.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME vorneth)
  set(CPACK_PACKAGE_VENDOR Vorneth)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "Vorneth developers <dev@vorneth.org>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "native add-on host for web pages")
  set(CPACK_PACKAGE_DESCRIPTION [[
The browser starts vorneth-host as its native-messaging host; pages
install signed add-on packages through the Vorneth extension and drive
them. Registered for Chrome, Chromium, Edge, Brave and Vivaldi
system-wide at installation; vorneth-register registers it for Firefox
or for one user. Also vorneth-cli, vorneth-pack and the add-on SDK.]])
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION web)
  # The dependencies, from the libraries the executables link (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
      ${PROJECT_SOURCE_DIR}/packaging/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  include(CPack)
else()
  # The installer of the host, next to the build's bin/ folder: of the
  # 32-bit host "win32", of the 64-bit one "win64", itself a 64-bit program.
  find_program(VORNETH_MAKENSIS makensis)
  if(VORNETH_MAKENSIS)
    math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
    set(installer ${PROJECT_BINARY_DIR}/vorneth-${PROJECT_VERSION}-win${bits}-setup.exe)
    set(defines
      -DVERSION=${PROJECT_VERSION}
      -DHOST=$<TARGET_FILE:vorneth-host>
      -DCLI=$<TARGET_FILE:vorneth-cli>
      -DEXTENSION_ID=${VORNETH_EXTENSION_ID}
      -DFIREFOX_EXTENSION_ID=${VORNETH_FIREFOX_EXTENSION_ID}
      -DOUTFILE=${installer})
    if(bits EQUAL 64)
      list(APPEND defines -DWIN64)
    endif()
    set(parts vorneth-host vorneth-cli)
    if(TARGET vorneth-register)
      list(APPEND defines -DREGISTER=$<TARGET_FILE:vorneth-register>)
      list(APPEND parts vorneth-register)
    endif()
    if(TARGET quenlog)
      list(APPEND defines -DQUENLOG=$<TARGET_FILE:quenlog>)
      list(APPEND parts quenlog)
    endif()
    add_custom_command(OUTPUT ${installer}
      COMMAND ${VORNETH_MAKENSIS} -V2 -NOCD ${defines} ${PROJECT_SOURCE_DIR}/packaging/windows/vorneth.nsi
      DEPENDS ${parts} ${PROJECT_SOURCE_DIR}/packaging/windows/vorneth.nsi
      COMMENT "Building the installer ${installer}"
      VERBATIM)
    add_custom_target(vorneth-installer DEPENDS ${installer})
  endif()
endif()
