#include "encodings.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>

namespace vorneth::pack {

std::string LowerHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char byte : bytes) {
    const auto value = static_cast<uint8_t>(byte);
    text += kDigits[value >> 4];
    text += kDigits[value & 0x0F];
  }
  return text;
}

std::string Sha1Hex(std::string_view bytes) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string Base64(std::string_view bytes) {
  // EVP_EncodeBlock takes an int length and writes 4 bytes per started
  // 3-byte group plus a terminating NUL; feed it in pieces a multiple of 3
  // long so that no padding lands in the middle.
  static constexpr size_t kPiece = size_t{3} * 1024 * 1024;
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4 + 1);
  for (size_t offset = 0; offset < bytes.size(); offset += kPiece) {
    const size_t length = std::min(kPiece, bytes.size() - offset);
    const size_t start = text.size();
    text.resize(start + (length + 2) / 3 * 4 + 1);
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data() + start),
                        reinterpret_cast<const unsigned char*>(bytes.data() + offset), static_cast<int>(length));
    text.resize(start + static_cast<size_t>(written));
  }
  return text;
}

}  // namespace vorneth::pack
