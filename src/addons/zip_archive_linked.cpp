#include "addons/zip_library.h"

namespace vorneth {

std::unique_ptr<ZipArchive> ZipArchive::Open(std::span<const uint8_t> bytes) {
  return OpenWithZipLibrary(bytes);
}

bool ZipArchive::Reachable() {
  return true;
}

}  // namespace vorneth
