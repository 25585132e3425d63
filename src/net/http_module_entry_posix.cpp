// The entry point of the HTTP module (http_services.h), the one symbol the
// module exports.
#include "net/http_services.h"

extern "C" __attribute__((visibility("default"))) vorneth::HttpServices* VornethHttpServices(uint32_t version) {
  if (version != vorneth::kHttpModuleInterfaceVersion) return nullptr;
  return &vorneth::PlatformHttpServices();
}
