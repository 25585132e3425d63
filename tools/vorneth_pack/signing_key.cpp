#include "signing_key.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "encodings.h"
#include "files.h"

namespace vorneth::pack {
namespace {

struct MemoryBioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Refuses to ask for a pass phrase: an encrypted key simply fails to load.
int NoPassPhrase(char*, int, int, void*) {
  return 0;
}

}  // namespace

std::string CryptoErrorText() {
  std::string text;
  char buffer[256];
  for (unsigned long error = ERR_get_error(); error != 0; error = ERR_get_error()) {
    ERR_error_string_n(error, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text.empty() ? "unknown reason" : text;
}

Status SigningKey::Load(const std::string& path, SigningKey& key) {
  std::string pem;
  if (Status read = ReadWholeFile(path, "key file", pem); !read.ok()) return read;
  std::unique_ptr<BIO, MemoryBioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return Status::Failed("key file " + path + ": " + CryptoErrorText());
  KeyPointer loaded(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassPhrase, nullptr));
  if (!loaded) {
    ERR_clear_error();
    return Status::Failed("key file " + path + ": not an unencrypted PEM private key");
  }
  if (EVP_PKEY_get_base_id(loaded.get()) != EVP_PKEY_RSA) {
    return Status::Failed("key file " + path + ": not an RSA private key");
  }
  if (EVP_PKEY_get_bits(loaded.get()) != kKeyBits) {
    return Status::Failed("key file " + path + ": an RSA key of " + std::to_string(EVP_PKEY_get_bits(loaded.get())) +
                          " bits; the host takes RSA-2048 only");
  }
  key.m_key = std::move(loaded);
  return Status::Ok();
}

Status SigningKey::Sign(std::string_view bytes, std::string& hex) const {
  std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
  std::string signature(static_cast<size_t>(EVP_PKEY_get_size(m_key.get())), '\0');
  size_t length = signature.size();
  // RSA keys sign with PKCS #1 v1.5 padding unless told otherwise.
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha1(), nullptr, m_key.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
    return Status::Failed("signing failed: " + CryptoErrorText());
  }
  signature.resize(length);
  hex = LowerHex(signature);
  if (hex.size() != kSignatureHexLength) return Status::Failed("signing gave a signature of unexpected length");
  return Status::Ok();
}

}  // namespace vorneth::pack
