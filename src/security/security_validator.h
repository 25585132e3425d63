// Signature checks against the public key built into the program, and the
// text encodings the add-on files use.
//
// A signature is an RSASSA-PKCS1-v1_5 signature with SHA-1 made with the
// private half of the built-in key: 256 bytes, carried in files as 512 hex
// digits. The built-in modulus is fixed when the program is built (the
// CMake variable VORNETH_PUBLIC_KEY); the exponent is 65537.
//
// Everything here is stateless: any function may be called from any thread
// at once.
#ifndef VORNETH_SECURITY_SECURITY_VALIDATOR_H_
#define VORNETH_SECURITY_SECURITY_VALIDATOR_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorneth {

class SecurityValidator {
 public:
  // Size in bytes of the key's modulus and of every signature.
  static constexpr size_t kSignatureSize = 256;

  // True when `signature` (`signatureLength` bytes, of which the first
  // kSignatureSize are used) is a signature of the `length` bytes at `data`.
  // False without hashing when data or signature is null, length is 0, or
  // the signature is shorter than kSignatureSize.
  static bool ValidateSignature(const uint8_t* data, size_t length, const uint8_t* signature, size_t signatureLength);
  // ValidateSignature with the signature given as hex text; false when the
  // text does not decode (HexToBytes).
  static bool ValidateFileSignature(const uint8_t* data, size_t length, std::string_view signatureHex);
};

// The bytes a hex text stands for: two digits (0-9, a-f, A-F) per byte,
// first digit high. None for an empty text or one with any other character.
// A last odd digit is ignored.
std::optional<std::vector<uint8_t>> HexToBytes(std::string_view text);

// RFC 4648 Base64 with the standard alphabet and "=" padding, no line breaks.
std::string Base64Encode(const uint8_t* bytes, size_t length);

}  // namespace vorneth

#endif  // VORNETH_SECURITY_SECURITY_VALIDATOR_H_
