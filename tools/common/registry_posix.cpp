// registry.h on systems without a registry: every call fails, saying so.
#include "common/registry_native.h"

namespace vorneth::native {
namespace {

constexpr char kNoRegistry[] = "this system has no registry";

}  // namespace

RegistryRead ReadRegistryDefault(RegistryScope, const std::string&, std::string&, std::string& why) {
  why = kNoRegistry;
  return RegistryRead::kFailed;
}

Status WriteRegistryDefault(RegistryScope, const std::string&, const std::string&) {
  return Status::Failed(kNoRegistry);
}

Status DeleteRegistryKey(RegistryScope, const std::string&) {
  return Status::Failed(kNoRegistry);
}

}  // namespace vorneth::native
