// The Windows registry, as far as the tools need it: the default value of a
// key under the current user's or the machine's "Software" tree.
//
// Keys are written below HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, always in
// the 64-bit view of the registry (on 32-bit Windows there is only one), so
// a 32-bit program and a 64-bit browser see the same keys. Key paths and
// values are UTF-8 and reach the system through the wide functions.
//
// Other systems have no registry: every call fails there (a read reports
// kFailed), saying so.
//
// Every call opens its own trace scope and traces its failures. Stateless;
// any thread may call.
#ifndef VORNETH_COMMON_REGISTRY_H_
#define VORNETH_COMMON_REGISTRY_H_

#include <string>

#include "platform/status.h"

namespace vorneth {

enum class RegistryScope { kUser, kMachine };

// kAbsent: the key or its default value does not exist.
enum class RegistryRead { kAbsent, kRead, kFailed };

// The default value of `key` (a path such as "Software\\A\\B"), which must
// be a text (REG_SZ). On kFailed `why` says what went wrong; `value` is
// empty unless the result is kRead.
RegistryRead ReadRegistryDefault(RegistryScope scope, const std::string& key, std::string& value, std::string& why);

// Creates `key` with every missing key on the way and sets its default
// value to the text `value`.
Status WriteRegistryDefault(RegistryScope scope, const std::string& key, const std::string& value);

// Deletes `key`, which must have no subkeys; a key that does not exist
// counts as deleted. The keys above it stay.
Status DeleteRegistryKey(RegistryScope scope, const std::string& key);

}  // namespace vorneth

#endif  // VORNETH_COMMON_REGISTRY_H_
