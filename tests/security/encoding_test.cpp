// Hex decoding and Base64 encoding.
#include <gtest/gtest.h>

#include <string>

#include "security/openssl_oracle.h"
#include "security/security_validator.h"

namespace vorneth {
namespace {

using testing::Bytes;

Bytes Decoded(std::string_view text) {
  return HexToBytes(text).value_or(Bytes{0xEE});
}

std::string Base64(const std::string& text) {
  return Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(HexToBytes, DecodesBothCasesHighDigitFirst) {
  EXPECT_EQ(Decoded("0A0b"), (Bytes{0x0A, 0x0B}));
  EXPECT_EQ(Decoded("0123456789abcdefABCDEF"),
            (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(Decoded("ff00"), (Bytes{0xFF, 0x00}));
}

TEST(HexToBytes, EmptyOrForeignCharactersGiveNone) {
  EXPECT_FALSE(HexToBytes(""));
  EXPECT_FALSE(HexToBytes("0G"));
  EXPECT_FALSE(HexToBytes("0a "));
  EXPECT_FALSE(HexToBytes("0x0a"));
  EXPECT_FALSE(HexToBytes(std::string_view("0a\0b", 4)));
  // A foreign character in the odd last place still refuses the text.
  EXPECT_FALSE(HexToBytes("0ag"));
}

TEST(HexToBytes, OddLengthDropsTheLastDigit) {
  EXPECT_EQ(Decoded("0a1"), (Bytes{0x0A}));
  const std::optional<Bytes> single = HexToBytes("7");
  ASSERT_TRUE(single);
  EXPECT_TRUE(single->empty());
}

TEST(Base64Encode, PadsOneTwoAndThreeBytes) {
  EXPECT_EQ(Base64(std::string("\xFF", 1)), "/w==");
  EXPECT_EQ(Base64(std::string("\xFF\xEF", 2)), "/+8=");
  EXPECT_EQ(Base64(std::string("\x00\x00\x00", 3)), "AAAA");
  EXPECT_EQ(Base64Encode(nullptr, 0), "");
}

TEST(Base64Encode, Rfc4648Vectors) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
}

TEST(Base64Encode, EveryByteValueAndLengthMatchesOpenSsl) {
  std::mt19937 random(21);
  Bytes all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(Base64Encode(all.data(), all.size()), testing::OpenSslBase64(all));
  for (size_t length = 1; length < 100; ++length) {
    const Bytes data = testing::RandomBytes(random, length);
    EXPECT_EQ(Base64Encode(data.data(), data.size()), testing::OpenSslBase64(data)) << length;
  }
}

}  // namespace
}  // namespace vorneth
