#include "addons/zip_library.h"

namespace vorneth {

std::unique_ptr<ZipArchive> ZipArchive::Open(std::span<const uint8_t> bytes) {
  return OpenWithZipLibrary(bytes);
}

}  // namespace vorneth
