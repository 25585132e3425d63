// SHA-1 against OpenSSL: each compression function on its own, then the
// digest object over boundary and random lengths, fed whole and in pieces.
#define OPENSSL_SUPPRESS_DEPRECATED  // SHA1_Transform: the one raw-block oracle
#include "security/digest.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <utility>
#include <vector>

#include "security/openssl_oracle.h"
#include "security/sha1_compress.h"

namespace vorneth {
namespace {

using testing::Bytes;
using testing::OpenSslSha1;
using testing::RandomBytes;

std::vector<std::pair<const char*, Sha1CompressFunction>> AvailableCompressFunctions() {
  std::vector<std::pair<const char*, Sha1CompressFunction>> functions = {{"portable", &Sha1CompressPortable}};
  if (Sha1CompressShaInstructions() != nullptr) functions.emplace_back("sha", Sha1CompressShaInstructions());
  return functions;
}

Bytes DigestInPieces(const Bytes& data, const std::vector<size_t>& cuts) {
  CSHA1 sha1;
  size_t at = 0;
  for (size_t cut : cuts) {
    sha1.Update(data.data() + at, cut - at);
    at = cut;
  }
  sha1.Update(data.data() + at, data.size() - at);
  sha1.Finish();
  return Bytes(sha1.Digest(), sha1.Digest() + sha1.DigestSize());
}

Bytes Whole(const Bytes& data) {
  const Sha1Digest digest = ComputeSha1(data.data(), data.size());
  return Bytes(digest.begin(), digest.end());
}

TEST(Sha1Compress, EachVariantOnThisCpuMatchesOpenSslFromAnyState) {
  std::mt19937 random(11);
  for (const auto& [name, compress] : AvailableCompressFunctions()) {
    for (size_t count : {1u, 2u, 3u, 9u}) {
      SCOPED_TRACE(std::string(name) + " blocks=" + std::to_string(count));
      const Bytes blocks = RandomBytes(random, 64 * count);
      uint32_t ours[5];
      for (uint32_t& word : ours) word = static_cast<uint32_t>(random());
      SHA_CTX reference;
      SHA1_Init(&reference);
      reference.h0 = ours[0], reference.h1 = ours[1], reference.h2 = ours[2], reference.h3 = ours[3];
      reference.h4 = ours[4];
      for (size_t i = 0; i < count; ++i) SHA1_Transform(&reference, blocks.data() + 64 * i);
      compress(ours, blocks.data(), count);
      const uint32_t expected[5] = {reference.h0, reference.h1, reference.h2, reference.h3, reference.h4};
      EXPECT_EQ(0, std::memcmp(ours, expected, sizeof(ours)));
    }
  }
}

TEST(Sha1Compress, ChosenVariantIsTheFastestAvailable) {
  const Sha1CompressFunction sha = Sha1CompressShaInstructions();
  EXPECT_EQ(Sha1Compress(), sha != nullptr ? sha : &Sha1CompressPortable);
}

TEST(Sha1Digest, KnownVectors) {
  const char* abc = "abc";
  const Sha1Digest digest = ComputeSha1(reinterpret_cast<const uint8_t*>(abc), 3);
  EXPECT_EQ(testing::ToHex(Bytes(digest.begin(), digest.end())), "a9993e364706816aba3e25717850c26c9cd0d89d");
  const Sha1Digest empty = ComputeSha1(nullptr, 0);
  EXPECT_EQ(testing::ToHex(Bytes(empty.begin(), empty.end())), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1Digest, BoundaryAndLargeLengthsInOneUpdate) {
  std::mt19937 random(12);
  for (size_t length :
       {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 192u, 16384u, (1u << 20) + 13u}) {
    SCOPED_TRACE(length);
    const Bytes data = RandomBytes(random, length);
    EXPECT_EQ(Whole(data), OpenSslSha1(data));
  }
}

TEST(Sha1Digest, PiecesOfAnySizeGiveTheStandardDigest) {
  std::mt19937 random(13);
  // Block-sized pieces, pieces of 0 bytes and a piece that ends one byte
  // before a boundary, then random cuts of random lengths.
  const Bytes block_data = RandomBytes(random, 256);
  for (const std::vector<size_t>& cuts :
       std::vector<std::vector<size_t>>{{64, 128, 192}, {0, 0, 64, 64, 200}, {63, 64, 65}, {1, 129}, {255}}) {
    EXPECT_EQ(DigestInPieces(block_data, cuts), OpenSslSha1(block_data));
  }
  for (int round = 0; round < 200; ++round) {
    const Bytes data = RandomBytes(random, random() % 1500);
    std::vector<size_t> cuts;
    size_t at = 0;
    while (at < data.size() && cuts.size() < 40) {
      at = std::min(data.size(), at + random() % 150);
      cuts.push_back(at);
    }
    SCOPED_TRACE(data.size());
    EXPECT_EQ(DigestInPieces(data, cuts), OpenSslSha1(data));
  }
}

}  // namespace
}  // namespace vorneth
