// The ZIP library behind ZipArchive (zip_archive.h), and how a program
// reaches it.
//
// OpenWithZipLibrary opens an archive with the library linked into the
// caller. Most programs link it and ZipArchive::Open is that function
// (zip_archive_linked.cpp). On Linux the host does not: the library and
// what it brings (a whole crypto library among them) cost every host start
// their loading and relocations, and most hosts never install a package. It
// reaches them through the ZIP module instead, kZipModuleFileName
// (zip_archive.h) beside the host executable, loaded by its full path on the
// first Open (zip_module_posix.cpp).
//
// A program picks one of the two by the CMake target property
// VORNETH_ZIP_ON_DEMAND (src/addons/CMakeLists.txt).
#ifndef VORNETH_ADDONS_ZIP_LIBRARY_H_
#define VORNETH_ADDONS_ZIP_LIBRARY_H_

#include <cstdint>
#include <memory>
#include <span>

#include "addons/zip_archive.h"

namespace vorneth {

std::unique_ptr<ZipArchive> OpenWithZipLibrary(std::span<const uint8_t> bytes);

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ZIP_LIBRARY_H_
