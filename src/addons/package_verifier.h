// The two signature checks of add-on packages: the manifest of a package
// before it is installed, and the installed files of an add-on before an
// instance of it is created.
//
// IsManifestValid takes the manifest text exactly as it came out of the
// package and the value parsed from it. Unless its "manifest_version" is 1,
// the manifest is signed: "manifest_signature" holds 512 hex digits, and the
// signed bytes are the text with the first occurrence of those digits cut
// out (the quotes around them stay). The manifest must then name the
// requested uuid and version, byte for byte.
//
// CheckAddOnSignature takes an add-on folder as the installer builds it
// (ending in the platform's separator). Its "signature.json" (checksum_list.h)
// must carry a valid signature over the canonical text of its "checksum"
// list, and every listed file must still have the listed SHA-1 digest (a
// missing file reads as empty). A list that is not an array, an entry that
// is not an object with a member, a digest that is not a text, and a file
// name that is absolute or has a ".." part fail the check.
//
// Values of the wrong JSON type fail a check; nothing here throws. Both are
// stateless: any number of calls may run at once on any threads, each reads
// its own files and takes no lock.
#ifndef VORNETH_ADDONS_PACKAGE_VERIFIER_H_
#define VORNETH_ADDONS_PACKAGE_VERIFIER_H_

#include <json/value.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vorneth {

// The entries at the top level of a package archive: the manifest, the
// signed inner archive, and the icon of an unsigned manifest. Packers and
// the host take the names from here. Then the largest manifest text
// accepted: a longer one is not valid.
inline constexpr const char kManifestFile[] = "manifest.json";
inline constexpr const char kInnerArchiveFile[] = "addon.zip";
inline constexpr const char kIconFile[] = "icon.png";
inline constexpr size_t kMaxManifestBytes = size_t{1} << 20;

// The "manifest_version" of an unsigned manifest whose icon is a file of
// the package.
inline constexpr int32_t kUnsignedManifestVersion = 1;

// True when the manifest is signed (or declares the unsigned version) and
// names `uuid` and `version`. `text` is the manifest file's bytes, `manifest`
// the value parsed from them.
bool IsManifestValid(const std::string& text, const Json::Value& manifest, const std::string& uuid,
                     const std::string& version);

// True when the installed files under `path` (a folder path ending in a
// separator; file names are appended to it directly) match their signed
// checksum list.
bool CheckAddOnSignature(const std::string& path);

}  // namespace vorneth

#endif  // VORNETH_ADDONS_PACKAGE_VERIFIER_H_
