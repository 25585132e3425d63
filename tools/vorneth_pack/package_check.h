// A package checked the way the host checks it when it installs it and
// when it later creates an instance, with the host's own functions and its
// built-in public key: the package archive opens; "manifest.json" is there
// within its size limit and valid for the uuid and version (IsManifestValid);
// "addon.zip" is there and carries the manifest's "signature"; it unpacks
// within the unpacking limits; and the unpacked files match their signed
// checksum list (CheckAddOnSignature). The steps run in that order and stop
// at the first failure, which is named.
//
// Unpacking goes into a fresh temporary folder, removed again afterwards.
// One object is used from one thread at a time.
#ifndef VORNETH_TOOLS_VORNETH_PACK_PACKAGE_CHECK_H_
#define VORNETH_TOOLS_VORNETH_PACK_PACKAGE_CHECK_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vorneth::pack {

struct CheckRequest {
  // The package file's bytes.
  std::string m_package;
  // As a page would ask for it; none: what the manifest itself names.
  std::optional<std::string> m_uuid;
  std::optional<std::string> m_version;
};

struct CheckReport {
  // One line per step that passed, in order.
  std::vector<std::string> m_passed;
  // Empty when every step passed; otherwise the step that failed and why.
  std::string m_failure;
};

// Fails only when the check itself cannot run (no temporary folder);
// a refused package is a report with m_failure set.
Status CheckPackage(const CheckRequest& request, CheckReport& report);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_PACKAGE_CHECK_H_
