#include "key_pair.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <memory>

#include "files.h"
#include "platform/file_reader_writer.h"
#include "signing_key.h"

namespace vorneth::pack {
namespace {

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPointer = std::unique_ptr<BIO, BioDeleter>;

// The bytes written into a memory BIO.
std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

// The PEM texts of a fresh key pair.
Status NewKeyPem(std::string& privatePem, std::string& publicPem) {
  // EVP_RSA_gen uses the public exponent 65537.
  const KeyPointer key(EVP_RSA_gen(kKeyBits));
  const BioPointer privateBio(BIO_new(BIO_s_mem()));
  const BioPointer publicBio(BIO_new(BIO_s_mem()));
  if (!key || !privateBio || !publicBio ||
      PEM_write_bio_PrivateKey(privateBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_PUBKEY(publicBio.get(), key.get()) != 1) {
    return Status::Failed("key generation failed: " + CryptoErrorText());
  }
  privatePem = BioText(privateBio.get());
  publicPem = BioText(publicBio.get());
  return Status::Ok();
}

}  // namespace

Status GenerateKeyPair(const std::string& privatePath, const std::string& publicPath) {
  // Checked first so that an existing public file does not cost a new
  // private one.
  for (const std::string* path : {&privatePath, &publicPath}) {
    if (FileReaderWriter::Exists(*path)) return Status::Failed(*path + ": already exists; not overwritten");
  }
  std::string privatePem;
  std::string publicPem;
  if (Status made = NewKeyPem(privatePem, publicPem); !made.ok()) return made;
  if (Status written = WriteNewFile(privatePath, privatePem, 0600); !written.ok()) return written;
  if (Status written = WriteNewFile(publicPath, publicPem, 0644); !written.ok()) {
    unlink(privatePath.c_str());
    return written;
  }
  return Status::Ok();
}

}  // namespace vorneth::pack
