// Signature checks against the built-in key: signatures that OpenSSL makes
// with the development private key, and signature blocks crafted with the
// raw private operation to probe each rule of the block check. A build
// configured with another key skips the tests that need the private half.
#include <gtest/gtest.h>

#include <string>

#include "security/digest.h"
#include "security/openssl_oracle.h"
#include "security/security_validator.h"
#include "vorneth_public_key.h"

namespace vorneth {
namespace {

using testing::Bytes;
using testing::RandomBytes;
using testing::ToHex;

constexpr size_t kK = SecurityValidator::kSignatureSize;

bool Validate(const Bytes& data, const Bytes& signature) {
  return SecurityValidator::ValidateSignature(data.data(), data.size(), signature.data(), signature.size());
}

class SignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_key.loaded()) << "cannot read " << VORNETH_TEST_PRIVATE_KEY;
    if (ToHex(m_key.modulus()) != kPublicKeyModulusHex) GTEST_SKIP() << "built with another VORNETH_PUBLIC_KEY";
  }

  // 00 01 FF.. 00, a DigestInfo-sized run of `prefixByte`, the digest.
  static Bytes Block(const Bytes& data, uint8_t prefixByte = 0x30) {
    Bytes em(kK, 0xFF);
    em[0] = 0x00;
    em[1] = 0x01;
    em[kK - 36] = 0x00;
    for (size_t i = kK - 35; i < kK - 20; ++i) em[i] = prefixByte;
    const Sha1Digest digest = ComputeSha1(data.data(), data.size());
    std::copy(digest.begin(), digest.end(), em.begin() + (kK - 20));
    return em;
  }

  // A signature whose public operation gives `em` exactly.
  Bytes SignBlock(const Bytes& em) const { return m_key.RawPrivate(em); }

  testing::DevelopmentKey m_key;
  std::mt19937 m_random{31};
};

TEST_F(SignatureTest, OpenSslSignaturesVerifyWhateverTheLength) {
  for (size_t length : {1u, 55u, 64u, 1000u, 100000u}) {
    SCOPED_TRACE(length);
    const Bytes data = RandomBytes(m_random, length);
    const Bytes signature = m_key.Sign(data);
    ASSERT_EQ(signature.size(), kK);
    EXPECT_TRUE(Validate(data, signature));
    std::string hex = ToHex(signature);
    EXPECT_TRUE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex));
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex));
  }
}

TEST_F(SignatureTest, ChangedDataOrSignatureFails) {
  const Bytes data = RandomBytes(m_random, 300);
  const Bytes signature = m_key.Sign(data);
  ASSERT_TRUE(Validate(data, signature));

  Bytes changed = data;
  changed[150] ^= 0x01;
  EXPECT_FALSE(Validate(changed, signature));
  EXPECT_FALSE(Validate(Bytes(data.begin(), data.end() - 1), signature));
  Bytes longer = data;
  longer.push_back(0);
  EXPECT_FALSE(Validate(longer, signature));
  for (size_t at : {0u, 100u, 255u}) {
    Bytes bad = signature;
    bad[at] ^= 0x04;
    EXPECT_FALSE(Validate(data, bad)) << at;
  }
}

TEST_F(SignatureTest, BlockRulesExamineExactlyTheRightBytes) {
  const Bytes data = RandomBytes(m_random, 77);
  const Bytes em = Block(data);
  EXPECT_TRUE(Validate(data, SignBlock(em)));

  // The 15 bytes where the DigestInfo prefix goes are not examined.
  for (uint8_t fill : {0x00, 0xFF, 0x5A}) EXPECT_TRUE(Validate(data, SignBlock(Block(data, fill))));
  Bytes scattered = em;
  for (size_t i = kK - 35; i < kK - 20; ++i) scattered[i] = static_cast<uint8_t>(m_random());
  EXPECT_TRUE(Validate(data, SignBlock(scattered)));

  struct Change {
    const char* what;
    size_t at;
    uint8_t value;
  };
  for (const Change& change :
       {Change{"first byte 01", 0, 0x01}, Change{"second byte 00", 1, 0x00}, Change{"second byte 02", 1, 0x02},
        Change{"217 FF, separator early", kK - 37, 0x00}, Change{"an FF in the run", 100, 0xFE},
        Change{"first FF", 2, 0x00}, Change{"no separator", kK - 36, 0xFF}, Change{"separator 01", kK - 36, 0x01},
        Change{"first digest byte", kK - 20, 0x00}, Change{"last digest byte", kK - 1, 0x00}}) {
    Bytes bad = em;
    // A digest byte may hold the value already.
    bad[change.at] = em[change.at] != change.value ? change.value : static_cast<uint8_t>(change.value ^ 0x80);
    EXPECT_FALSE(Validate(data, SignBlock(bad))) << change.what;
  }

  // The whole tail one position early: 217 FF, then separator, prefix and
  // digest, and one stray byte at the end.
  Bytes shifted(em.begin(), em.end());
  shifted.erase(shifted.begin() + 2);
  shifted.push_back(0x00);
  EXPECT_FALSE(Validate(data, SignBlock(shifted)));
}

TEST_F(SignatureTest, SignatureNotBelowTheModulusFails) {
  // A signature s + n (when it fits in 256 bytes) reduces to a valid one:
  // it must still fail, because x >= n is refused before any arithmetic.
  const testing::Bignum n = testing::BignumFrom(m_key.modulus());
  bool tried = false;
  for (int attempt = 0; attempt < 64 && !tried; ++attempt) {
    const Bytes data = RandomBytes(m_random, 40);
    const Bytes signature = m_key.Sign(data);
    testing::Bignum sum = testing::BignumFrom(signature);
    BN_add(sum.get(), sum.get(), n.get());
    if (BN_num_bytes(sum.get()) > static_cast<int>(kK)) continue;
    tried = true;
    EXPECT_TRUE(Validate(data, signature));
    EXPECT_FALSE(Validate(data, testing::BignumBytes(sum.get(), kK)));
  }
  EXPECT_TRUE(tried);
  const Bytes data = RandomBytes(m_random, 10);
  EXPECT_FALSE(Validate(data, m_key.modulus()));
  EXPECT_FALSE(Validate(data, Bytes(kK, 0xFF)));
}

TEST_F(SignatureTest, ShortSignaturesFailLongOnesUseTheirFirstBytes) {
  const Bytes data = RandomBytes(m_random, 64);
  const Bytes signature = m_key.Sign(data);
  // The first 255 bytes, in a buffer of exactly that size.
  const Bytes short_signature(signature.begin(), signature.end() - 1);
  EXPECT_FALSE(Validate(data, short_signature));
  const std::string hex = ToHex(signature);
  EXPECT_FALSE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex.substr(0, 510)));
  EXPECT_FALSE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex.substr(0, 511)));

  Bytes longer = signature;
  longer.insert(longer.end(), {0x12, 0x34});
  EXPECT_TRUE(Validate(data, longer));
  EXPECT_TRUE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex + "ab5"));
}

TEST_F(SignatureTest, MissingPartsAndBadHexFail) {
  const Bytes data = RandomBytes(m_random, 64);
  const Bytes signature = m_key.Sign(data);
  EXPECT_FALSE(SecurityValidator::ValidateSignature(nullptr, data.size(), signature.data(), signature.size()));
  EXPECT_FALSE(SecurityValidator::ValidateSignature(data.data(), 0, signature.data(), signature.size()));
  EXPECT_FALSE(SecurityValidator::ValidateSignature(data.data(), data.size(), nullptr, signature.size()));
  EXPECT_FALSE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), ""));
  std::string hex = ToHex(signature);
  hex[300] = 'g';
  EXPECT_FALSE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex));
}

}  // namespace
}  // namespace vorneth
