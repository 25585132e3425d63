// Signatures and digests for the add-on tests, made with the crypto library
// as an oracle independent of the host's own code: RSASSA-PKCS1-v1_5 with
// SHA-1 under the development private key (the private half of the key the
// test build has built in), written as hex text.
#ifndef VORNETH_TESTS_ADDONS_TEST_SIGNING_H_
#define VORNETH_TESTS_ADDONS_TEST_SIGNING_H_

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace vorneth::testing {

inline std::string Hex(const unsigned char* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

// The SHA-1 digest of `data` as 40 lower-case hex digits.
inline std::string Sha1Hex(std::string_view data) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return Hex(digest, sizeof digest);
}

// The signature of `data` as 512 hex digits; empty when the key cannot be
// read (the test then fails on the empty text).
inline std::string SignHex(std::string_view data) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(VORNETH_TEST_PRIVATE_KEY, "rb"), &std::fclose);
  if (!file) return "";
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr),
                                                     &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!key || !context) return "";
  size_t length = 0;
  if (EVP_DigestSignInit(context.get(), nullptr, EVP_sha1(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()),
                     data.size()) != 1) {
    return "";
  }
  std::string signature(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
    return "";
  }
  return Hex(reinterpret_cast<const unsigned char*>(signature.data()), length);
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_ADDONS_TEST_SIGNING_H_
