// The entry point of the ZIP module (zip_library.h), the one symbol the
// module exports.
#include "addons/zip_library.h"

extern "C" __attribute__((visibility("default"))) vorneth::ZipOpener VornethZipOpener(uint32_t version) {
  if (version != vorneth::kZipModuleVersion) return nullptr;
  return &vorneth::OpenWithZipLibrary;
}
