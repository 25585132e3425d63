// The digests and text encodings that add-on packages carry, computed with
// the crypto library: SHA-1 as 40 lower-case hex digits, lower-case hex of
// any bytes, and Base64. Stateless; any function may be called from any
// thread.
#ifndef VORNETH_TOOLS_VORNETH_PACK_ENCODINGS_H_
#define VORNETH_TOOLS_VORNETH_PACK_ENCODINGS_H_

#include <string>
#include <string_view>

namespace vorneth::pack {

// Two lower-case hex digits per byte, first digit high.
std::string LowerHex(std::string_view bytes);
// The SHA-1 digest of `bytes` as 40 lower-case hex digits.
std::string Sha1Hex(std::string_view bytes);
// RFC 4648 Base64, standard alphabet, "=" padding, no line breaks.
std::string Base64(std::string_view bytes);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_ENCODINGS_H_
