// The public-key operation against OpenSSL's modular exponentiation, for
// both limb widths (the 32-bit one is what the 32-bit build runs), on moduli
// of several sizes and on exponents other than 65537.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "security/openssl_oracle.h"
#include "security/rsa_montgomery.h"
#include "security/rsa_public_key.h"

namespace vorneth {
namespace {

using testing::Bytes;
using testing::RandomBytes;

// A random odd number of exactly `bytes` bytes (top bit set).
Bytes RandomModulus(std::mt19937& random, size_t bytes) {
  Bytes n = RandomBytes(random, bytes);
  n.front() |= 0x80;
  n.back() |= 0x01;
  return n;
}

// A random number below `n`, of the same byte length.
Bytes RandomBelow(std::mt19937& random, const Bytes& n) {
  Bytes x = RandomBytes(random, n.size());
  x[0] = static_cast<uint8_t>(x[0] % n[0]);
  return x;
}

template <typename Key>
class PublicKeyBlockTest : public ::testing::Test {};

using Widths = ::testing::Types<MontgomeryRsa<uint32_t, uint64_t, 64>, RsaPublicKey>;
TYPED_TEST_SUITE(PublicKeyBlockTest, Widths);

TYPED_TEST(PublicKeyBlockTest, MatchesOpenSslOnRandomKeysAndExponents) {
  std::mt19937 random(41);
  const Bytes f4 = {0x01, 0x00, 0x01};
  for (size_t modulus_bytes : {256u, 255u, 128u, 9u, 8u, 1u}) {
    const Bytes n = RandomModulus(random, modulus_bytes);
    const Bytes big_exponent = RandomBytes(random, 256);
    Bytes even_exponent = RandomBytes(random, 40);
    even_exponent.back() &= 0xFE;
    for (const Bytes& e : {f4, Bytes{0x03}, Bytes{0x01}, Bytes{0x02}, even_exponent, big_exponent}) {
      const TypeParam key(n, e);
      ASSERT_TRUE(key.valid());
      ASSERT_EQ(key.size(), modulus_bytes);
      for (int round = 0; round < 3; ++round) {
        const Bytes x = RandomBelow(random, n);
        Bytes ours(modulus_bytes, 0xEE);
        ASSERT_TRUE(key.PublicKeyBlock(x.data(), x.size(), ours.data()));
        EXPECT_EQ(ours, testing::OpenSslModExp(x, e, n, modulus_bytes))
            << "n bytes " << modulus_bytes << " e bytes " << e.size();
      }
    }
  }
}

TYPED_TEST(PublicKeyBlockTest, EdgeValuesOfTheInput) {
  std::mt19937 random(42);
  const Bytes n = RandomModulus(random, 256);
  const TypeParam key(n, Bytes{0x01, 0x00, 0x01});
  Bytes out(256);
  // 0, 1 and n - 1 ((n-1)^e = n-1 for odd e).
  Bytes n_minus_1 = n;
  n_minus_1.back() -= 1;
  for (const Bytes& x : {Bytes(256, 0), Bytes{0x01}, n_minus_1}) {
    ASSERT_TRUE(key.PublicKeyBlock(x.data(), x.size(), out.data()));
    EXPECT_EQ(out, testing::OpenSslModExp(x, Bytes{0x01, 0x00, 0x01}, n, 256));
  }
  // Leading zero bytes beyond the modulus length are fine; any non-zero
  // value at or above n is refused, and the output is left alone.
  Bytes padded(300, 0);
  padded[299] = 2;
  EXPECT_TRUE(key.PublicKeyBlock(padded.data(), padded.size(), out.data()));
  Bytes n_plus_1 = n;
  n_plus_1.back() += 1;
  Bytes above(257, 0);
  above[0] = 1;
  for (const Bytes& x : {n, n_plus_1, Bytes(256, 0xFF), above}) {
    Bytes untouched(256, 0xEE);
    EXPECT_FALSE(key.PublicKeyBlock(x.data(), x.size(), untouched.data()));
    EXPECT_EQ(untouched, Bytes(256, 0xEE));
  }
}

TYPED_TEST(PublicKeyBlockTest, UnusableKeysRefuseEveryInput) {
  std::mt19937 random(43);
  Bytes even = RandomModulus(random, 256);
  even.back() &= 0xFE;
  const Bytes odd = RandomModulus(random, 256);
  const Bytes x{0x05};
  Bytes out(257);
  for (const TypeParam& key : {TypeParam(even, Bytes{0x03}), TypeParam(odd, Bytes{0x00, 0x00}),
                               TypeParam(Bytes(257, 0x01), Bytes{0x03}), TypeParam(Bytes{0x01}, Bytes{0x03})}) {
    EXPECT_FALSE(key.valid());
    EXPECT_FALSE(key.PublicKeyBlock(x.data(), x.size(), out.data()));
  }
}

}  // namespace
}  // namespace vorneth
