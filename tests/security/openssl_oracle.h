// OpenSSL's libcrypto as the reference the security code is checked
// against: digests, Base64, big-number arithmetic and signatures made with
// the development private key. Test-only; nothing in src/ links it.
#ifndef VORNETH_TESTS_SECURITY_OPENSSL_ORACLE_H_
#define VORNETH_TESTS_SECURITY_OPENSSL_ORACLE_H_

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vorneth::testing {

using Bytes = std::vector<uint8_t>;

struct BignumFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;
struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Bytes RandomBytes(std::mt19937& random, size_t length);
std::string ToHex(const Bytes& bytes);

Bytes OpenSslSha1(const Bytes& data);
std::string OpenSslBase64(const Bytes& data);

Bignum BignumFrom(const Bytes& bigEndian);
// `value` big-endian in exactly `length` bytes (it must fit).
Bytes BignumBytes(const BIGNUM* value, size_t length);
// base^exponent mod modulus, big-endian in `length` bytes.
Bytes OpenSslModExp(const Bytes& base, const Bytes& exponent, const Bytes& modulus, size_t length);

// The development key pair (tests/keys/development-private.pem).
class DevelopmentKey {
 public:
  DevelopmentKey();
  bool loaded() const { return m_key != nullptr; }
  const Bytes& modulus() const { return m_modulus; }  // 256 bytes
  // PKCS #1 v1.5 signature with SHA-1 of `data`, as OpenSSL makes it.
  Bytes Sign(const Bytes& data) const;
  // The raw private operation: block^d mod n, 256 bytes (block < n).
  Bytes RawPrivate(const Bytes& block) const;

 private:
  Pkey m_key;
  Bytes m_modulus;
  Bytes m_private_exponent;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SECURITY_OPENSSL_ORACLE_H_
