#include "security/security_validator.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/trace.h"
#include "security/digest.h"
#include "security/rsa_public_key.h"
#include "vorneth_public_key.h"

namespace vorneth {

namespace {

constexpr char kPublicExponentHex[] = "010001";

// Layout of the signature block EM of k bytes (PKCS #1 v1.5, SHA-1):
// 00 01, FF bytes up to position k-37, 00, a 15-byte DigestInfo prefix that
// is not examined, then the 20-byte digest.
constexpr size_t kDigestOffset = SecurityValidator::kSignatureSize - CSHA1::kDigestSize;
constexpr size_t kSeparatorOffset = SecurityValidator::kSignatureSize - 36;

// The built-in key, decoded and prepared for Montgomery multiplication once
// per process (on first use; a function-local static is thread-safe).
const RsaPublicKey& BuiltInKey() {
  static const RsaPublicKey key = [] {
    const std::vector<uint8_t> modulus = HexToBytes(kPublicKeyModulusHex).value_or(std::vector<uint8_t>());
    const std::vector<uint8_t> exponent = HexToBytes(kPublicExponentHex).value_or(std::vector<uint8_t>());
    return RsaPublicKey(modulus, exponent);
  }();
  return key;
}

// The checks on EM, in order, stopping at the first that fails.
bool BlockMatches(const std::array<uint8_t, SecurityValidator::kSignatureSize>& em, const Sha1Digest& digest) {
  if (em[0] != 0x00 || em[1] != 0x01) return false;
  for (size_t i = 2; i < kSeparatorOffset; ++i) {
    if (em[i] != 0xFF) return false;
  }
  if (em[kSeparatorOffset] != 0x00) return false;
  return std::equal(digest.begin(), digest.end(), em.begin() + kDigestOffset);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool SecurityValidator::ValidateSignature(const uint8_t* data, size_t length, const uint8_t* signature,
                                          size_t signatureLength) {
  TraceFunction trace("SecurityValidator::ValidateSignature");
  if (data == nullptr || length == 0 || signature == nullptr) return false;
  // A short signature would make the key operation read past its end.
  if (signatureLength < kSignatureSize) {
    trace.Message("SecurityValidator::ValidateSignature - signature too short");
    return false;
  }

  trace.Message("SecurityValidator::ValidateSignature - sha1...");
  CSHA1 sha1;
  sha1.Update(data, length);
  trace.Message("SecurityValidator::ValidateSignature - sha1 hash...");
  sha1.Finish();
  Sha1Digest digest;
  std::memcpy(digest.data(), sha1.Digest(), digest.size());
  trace.Message("SecurityValidator::ValidateSignature - sha1 final");

  const RsaPublicKey& key = BuiltInKey();
  std::array<uint8_t, kSignatureSize> em{};
  const bool result = key.valid() && key.size() == kSignatureSize &&
                      key.PublicKeyBlock(signature, kSignatureSize, em.data()) && BlockMatches(em, digest);

  trace.Number("signatureResult", result ? 1 : 0);
  trace.Message("SecurityValidator::ValidateSignature - result");
  return result;
}

bool SecurityValidator::ValidateFileSignature(const uint8_t* data, size_t length, std::string_view signatureHex) {
  TraceFunction trace("SecurityValidator::ValidateFileSignature");
  const std::optional<std::vector<uint8_t>> signature = HexToBytes(signatureHex);
  if (!signature) return ValidateSignature(data, length, nullptr, 0);
  return ValidateSignature(data, length, signature->data(), signature->size());
}

std::optional<std::vector<uint8_t>> HexToBytes(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (HexValue(c) < 0) return std::nullopt;
  }
  std::vector<uint8_t> bytes(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
  }
  return bytes;
}

std::string Base64Encode(const uint8_t* bytes, size_t length) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  if (bytes == nullptr || length == 0) return text;
  text.reserve((length + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    text += kAlphabet[group >> 18];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  if (i < length) {
    const bool two = i + 1 < length;
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
    text += kAlphabet[group >> 18];
    text += kAlphabet[(group >> 12) & 63];
    text += two ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

}  // namespace vorneth
