// The per-platform halves of registry.h. Internal to the platform layer:
// registry.cpp checks the arguments, opens the trace scopes and traces the
// failures; these make the system calls and neither trace nor check again.
#ifndef VORNETH_COMMON_REGISTRY_NATIVE_H_
#define VORNETH_COMMON_REGISTRY_NATIVE_H_

#include <string>

#include "common/registry.h"
#include "platform/status.h"

namespace vorneth::native {

// `key` is non-empty valid UTF-8, `value` valid UTF-8.
RegistryRead ReadRegistryDefault(RegistryScope scope, const std::string& key, std::string& value, std::string& why);
Status WriteRegistryDefault(RegistryScope scope, const std::string& key, const std::string& value);
Status DeleteRegistryKey(RegistryScope scope, const std::string& key);

}  // namespace vorneth::native

#endif  // VORNETH_COMMON_REGISTRY_NATIVE_H_
