// RsaPublicKey: the RSA public-key operation for keys of up to 2048 bits,
// with the limb width that suits the target (see rsa_montgomery.h for the
// contract): 64-bit limbs where the compiler has a 128-bit product, 32-bit
// limbs otherwise (the 32-bit build).
#ifndef VORNETH_SECURITY_RSA_PUBLIC_KEY_H_
#define VORNETH_SECURITY_RSA_PUBLIC_KEY_H_

#include <cstdint>

#include "security/rsa_montgomery.h"

namespace vorneth {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 RsaWideLimb;
using RsaPublicKey = MontgomeryRsa<uint64_t, RsaWideLimb, 32>;
#else
using RsaPublicKey = MontgomeryRsa<uint32_t, uint64_t, 64>;
#endif

}  // namespace vorneth

#endif  // VORNETH_SECURITY_RSA_PUBLIC_KEY_H_
