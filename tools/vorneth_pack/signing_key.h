// The author's private key, and signatures made with it the way the host
// checks them: RSASSA-PKCS1-v1_5 with SHA-1, 256 bytes, written as 512
// lower-case hex digits.
//
// Only unencrypted RSA-2048 keys are taken, in PEM form (PKCS #8 "PRIVATE
// KEY" as keygen writes it, or the older "RSA PRIVATE KEY"): the host's
// built-in key is RSA-2048 and accepts nothing else. One object is used
// from one thread at a time.
#ifndef VORNETH_TOOLS_VORNETH_PACK_SIGNING_KEY_H_
#define VORNETH_TOOLS_VORNETH_PACK_SIGNING_KEY_H_

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "security/security_validator.h"

namespace vorneth::pack {

// Key size in bits, and the length of a signature in hex digits.
inline constexpr int kKeyBits = 2048;
inline constexpr size_t kSignatureHexLength = 2 * SecurityValidator::kSignatureSize;

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using KeyPointer = std::unique_ptr<EVP_PKEY, KeyDeleter>;

// The crypto library's queued error texts, joined with "; ", and the queue
// emptied; "unknown reason" when it was empty.
std::string CryptoErrorText();

class SigningKey {
 public:
  // Fails when the file cannot be read, holds no PEM private key (or an
  // encrypted one), or a key that is not RSA-2048.
  static Status Load(const std::string& path, SigningKey& key);

  // The signature of `bytes` as 512 lower-case hex digits in `hex`.
  Status Sign(std::string_view bytes, std::string& hex) const;

 private:
  KeyPointer m_key;
};

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_SIGNING_KEY_H_
