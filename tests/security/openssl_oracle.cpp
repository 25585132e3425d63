#include "security/openssl_oracle.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <cstdio>

namespace vorneth::testing {

Bytes RandomBytes(std::mt19937& random, size_t length) {
  Bytes bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

Bytes OpenSslSha1(const Bytes& data) {
  Bytes digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr);
  digest.resize(length);
  return digest;
}

std::string OpenSslBase64(const Bytes& data) {
  std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data.data(), static_cast<int>(data.size()));
  text.resize(static_cast<size_t>(length));
  return text;
}

Bignum BignumFrom(const Bytes& bigEndian) {
  return Bignum(BN_bin2bn(bigEndian.data(), static_cast<int>(bigEndian.size()), nullptr));
}

Bytes BignumBytes(const BIGNUM* value, size_t length) {
  Bytes bytes(length);
  if (BN_bn2binpad(value, bytes.data(), static_cast<int>(length)) < 0) bytes.clear();
  return bytes;
}

Bytes OpenSslModExp(const Bytes& base, const Bytes& exponent, const Bytes& modulus, size_t length) {
  const Bignum b = BignumFrom(base), e = BignumFrom(exponent), n = BignumFrom(modulus);
  Bignum result(BN_new());
  BN_CTX* ctx = BN_CTX_new();
  BN_mod_exp(result.get(), b.get(), e.get(), n.get(), ctx);
  BN_CTX_free(ctx);
  return BignumBytes(result.get(), length);
}

DevelopmentKey::DevelopmentKey() {
  FILE* file = std::fopen(VORNETH_TEST_PRIVATE_KEY, "r");
  if (file == nullptr) return;
  m_key.reset(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  if (!m_key) return;
  BIGNUM* n = nullptr;
  BIGNUM* d = nullptr;
  EVP_PKEY_get_bn_param(m_key.get(), OSSL_PKEY_PARAM_RSA_N, &n);
  EVP_PKEY_get_bn_param(m_key.get(), OSSL_PKEY_PARAM_RSA_D, &d);
  const Bignum owned_n(n), owned_d(d);
  if (n == nullptr || d == nullptr) {
    m_key.reset();
    return;
  }
  m_modulus = BignumBytes(n, 256);
  m_private_exponent = BignumBytes(d, 256);
}

Bytes DevelopmentKey::Sign(const Bytes& data) const {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  size_t length = 0;
  Bytes signature;
  if (EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, m_key.get()) == 1 &&
      EVP_DigestSign(ctx, nullptr, &length, data.data(), data.size()) == 1) {
    signature.resize(length);
    if (EVP_DigestSign(ctx, signature.data(), &length, data.data(), data.size()) != 1) signature.clear();
  }
  EVP_MD_CTX_free(ctx);
  return signature;
}

Bytes DevelopmentKey::RawPrivate(const Bytes& block) const {
  return OpenSslModExp(block, m_private_exponent, m_modulus, 256);
}

}  // namespace vorneth::testing
