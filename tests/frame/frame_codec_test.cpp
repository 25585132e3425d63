// The browser-side frame codec: encoding, and decoding a stream that arrives
// in pieces of any size.
#include "frame/frame_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vorneth {
namespace {

TEST(FrameCodecTest, LengthIsFourBytesLeastSignificantFirst) {
  EXPECT_EQ(EncodeFrame(std::string(300, 'a')).substr(0, 4), std::string("\x2C\x01\x00\x00", 4));
  EXPECT_EQ(EncodeFrame(""), std::string(4, '\0'));
  EXPECT_EQ(EncodeFrameLength(0x0A0B0C0Du), "\x0D\x0C\x0B\x0A");
  EXPECT_EQ(EncodeFrameLength(0xFFFFFFFFu), "\xFF\xFF\xFF\xFF");
  const std::string body("{\"a\":\"\0\n\"}", 10);
  EXPECT_EQ(EncodeFrame(body), std::string("\x0A\x00\x00\x00", 4) + body);
}

TEST(FrameCodecTest, ByteByByteStreamGivesEveryBodyInOrder) {
  const std::vector<std::string> bodies = {"{}", "", std::string(266, 'x'), std::string("\0\xff", 2), "[1, 2]"};
  std::string stream;
  for (const std::string& body : bodies) stream += EncodeFrame(body);

  FrameDecoder decoder;
  std::vector<std::string> decoded;
  for (char byte : stream) {
    decoder.Append(std::string_view(&byte, 1));
    while (auto body = decoder.Next()) decoded.push_back(*body);
  }
  EXPECT_EQ(decoded, bodies);
  EXPECT_EQ(decoder.buffered(), 0u);
  EXPECT_FALSE(decoder.failed());
}

TEST(FrameCodecTest, PartialFrameIsKeptUntilComplete) {
  FrameDecoder decoder;
  decoder.Append(std::string("\x05\x00", 2));
  EXPECT_EQ(decoder.Next(), std::nullopt);
  EXPECT_EQ(decoder.pending_length(), std::nullopt);
  EXPECT_EQ(decoder.buffered(), 2u);
  decoder.Append(
      std::string("\x00\x00"
                  "abc",
                  5));
  EXPECT_EQ(decoder.Next(), std::nullopt);
  EXPECT_EQ(decoder.pending_length(), 5u);
  EXPECT_EQ(decoder.buffered(), 7u);
  // The rest of the body and the start of the next frame in one piece.
  decoder.Append(std::string("de\x01\x00", 4));
  EXPECT_EQ(decoder.Next(), "abcde");
  EXPECT_EQ(decoder.Next(), std::nullopt);
  EXPECT_EQ(decoder.buffered(), 2u);
  decoder.Append(std::string("\x00\x00z", 3));
  EXPECT_EQ(decoder.Next(), "z");
  EXPECT_EQ(decoder.buffered(), 0u);
}

TEST(FrameCodecTest, LengthAboveTheLimitStopsTheDecoderForGood) {
  FrameDecoder decoder(10);
  decoder.Append(EncodeFrame("0123456789"));  // exactly the limit is fine
  EXPECT_EQ(decoder.Next(), "0123456789");
  decoder.Append(EncodeFrame("0123456789A"));
  EXPECT_EQ(decoder.Next(), std::nullopt);
  EXPECT_TRUE(decoder.failed());
  EXPECT_EQ(decoder.pending_length(), 11u);
  decoder.Append(EncodeFrame("ok"));
  EXPECT_EQ(decoder.Next(), std::nullopt);
}

TEST(FrameCodecTest, ManyFramesInRandomPiecesSurviveBufferCompaction) {
  std::mt19937 random(7);
  std::vector<std::string> bodies;
  std::string stream;
  for (int i = 0; i < 2000; ++i) {
    bodies.push_back(std::string(random() % 300, static_cast<char>('a' + i % 26)) + std::to_string(i));
    stream += EncodeFrame(bodies.back());
  }
  FrameDecoder decoder;
  std::vector<std::string> decoded;
  for (size_t offset = 0; offset < stream.size();) {
    const size_t piece = std::min<size_t>(1 + random() % 700, stream.size() - offset);
    decoder.Append(std::string_view(stream).substr(offset, piece));
    offset += piece;
    while (auto body = decoder.Next()) decoded.push_back(*body);
  }
  EXPECT_EQ(decoded, bodies);
  EXPECT_EQ(decoder.buffered(), 0u);
}

}  // namespace
}  // namespace vorneth
