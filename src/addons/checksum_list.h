// The signed text of an add-on's checksum list.
//
// "signature.json" in an add-on's folder holds {"checksum": [...],
// "signature": "<hex>"}: one {"<file name>": "<SHA-1 hex>"} object per
// protected file, and a signature over the canonical text of the
// "checksum" value. Packers and the host must agree on that text byte for
// byte, so both take it from here.
#ifndef VORNETH_ADDONS_CHECKSUM_LIST_H_
#define VORNETH_ADDONS_CHECKSUM_LIST_H_

#include <json/value.h>

#include <string>

namespace vorneth {

// Name of the checksum list in an add-on's folder, and its two members.
inline constexpr const char kChecksumListFile[] = "signature.json";
inline constexpr const char kChecksumMember[] = "checksum";
inline constexpr const char kChecksumSignatureMember[] = "signature";

// The text StyledWriter writes for `checksum` (the "checksum" value, of any
// type) with every space and line-feed byte removed, wherever it stands,
// file names included.
std::string CanonicalChecksumText(const Json::Value& checksum);

}  // namespace vorneth

#endif  // VORNETH_ADDONS_CHECKSUM_LIST_H_
