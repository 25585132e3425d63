// keygen: a new RSA-2048 key pair (public exponent 65537) for signing
// add-on packages.
//
// The private key is written in unencrypted PKCS #8 PEM form, readable by
// its owner only (mode 0600); the public key as a SubjectPublicKeyInfo PEM
// ("PUBLIC KEY"), the form the build's VORNETH_PUBLIC_KEY takes. Neither
// file may exist beforehand; when the second cannot be written the first
// is removed again, so a failed run leaves nothing behind.
#ifndef VORNETH_TOOLS_VORNETH_PACK_KEY_PAIR_H_
#define VORNETH_TOOLS_VORNETH_PACK_KEY_PAIR_H_

#include <string>

#include "platform/status.h"

namespace vorneth::pack {

Status GenerateKeyPair(const std::string& privatePath, const std::string& publicPath);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_KEY_PAIR_H_
