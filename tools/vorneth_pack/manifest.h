// "manifest.json", the package's description of itself, written with the
// host's StyledWriter.
//
// Every manifest carries "uuid", "version", "name", "description",
// "manifest_version" and "signature" (the signature of the exact bytes of
// "addon.zip"). Version 2 adds "icon" (the icon's Base64 text, "" without
// an icon) and signs itself: the text is written with "manifest_signature"
// "", those bytes are signed, and the 512 hex digits are put between the
// two quotes, which the host undoes by deleting the first occurrence of
// the digits. Version 1 is not signed and has no "icon": the icon travels
// as "icon.png" beside the manifest. Stateless.
#ifndef VORNETH_TOOLS_VORNETH_PACK_MANIFEST_H_
#define VORNETH_TOOLS_VORNETH_PACK_MANIFEST_H_

#include <string>

#include "addons/package_verifier.h"
#include "platform/status.h"
#include "signing_key.h"

namespace vorneth::pack {

inline constexpr int kSignedManifestVersion = 2;

struct ManifestFields {
  std::string m_uuid;
  std::string m_version;
  std::string m_name;
  std::string m_description;
  // The icon file's bytes; empty without an icon.
  std::string m_icon;
  int m_manifestVersion = kSignedManifestVersion;
};

// The manifest text for a package whose inner archive is `innerArchive`.
Status ManifestText(const ManifestFields& fields, const std::string& innerArchive, const SigningKey& key,
                    std::string& text);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_MANIFEST_H_
