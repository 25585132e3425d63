// The host's frame reader: frames read back to back however the input
// arrives in pieces, and how it holds a body's bytes.
#include "frame/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/frame_codec.h"

namespace vorneth {
namespace {

// A read function that hands out `input` `chunk` bytes at a time.
FrameReader::ReadFunction ChunkedInput(std::string input, size_t chunk) {
  auto data = std::make_shared<std::string>(std::move(input));
  auto at = std::make_shared<size_t>(0);
  return [data, at, chunk](char* buffer, size_t n) {
    const size_t count = std::min({n, chunk, data->size() - *at});
    data->copy(buffer, count, *at);
    *at += count;
    return count;
  };
}

TEST(FrameReaderTest, ReadsFramesBackToBackWhateverTheChunking) {
  const std::string input = std::string("\x05\x00\x00\x00hello", 9) + std::string("\x00\x00\x00\x00", 4) +
                            std::string("\x00\x00\x00\x80", 4) + std::string("\x02\x00\x00\x00{}", 6);
  for (size_t chunk : {1u, 3u, 4096u}) {
    FrameReader reader(ChunkedInput(input, chunk), 7);
    std::string body = "stale";
    ASSERT_TRUE(reader.ReadFrame(body));
    EXPECT_EQ(body, "hello");
    ASSERT_TRUE(reader.ReadFrame(body));
    EXPECT_EQ(body, "");
    ASSERT_TRUE(reader.ReadFrame(body));  // negative length: empty, no body bytes
    EXPECT_EQ(body, "");
    ASSERT_TRUE(reader.ReadFrame(body));
    EXPECT_EQ(body, "{}");
    EXPECT_FALSE(reader.ReadFrame(body));
  }
}

TEST(FrameReaderTest, EndOfInputInsideAFrameEndsTheStream) {
  for (size_t cut = 1; cut <= 3; ++cut) {
    FrameReader reader(ChunkedInput(std::string("\x05\x00\x00\x00", cut), 1));
    std::string body;
    EXPECT_FALSE(reader.ReadFrame(body)) << cut;
  }
  FrameReader truncated(ChunkedInput(std::string("\x05\x00\x00\x00hel", 7), 2));
  std::string body;
  EXPECT_FALSE(truncated.ReadFrame(body));
  // A huge announced length with little data behind it reserves nothing.
  FrameReader huge(ChunkedInput(std::string("\xff\xff\xff\x7f{}", 6), 2));
  EXPECT_FALSE(huge.ReadFrame(body));
}

// Hands out `input` at most `chunk` bytes per read and notes where `body`
// keeps its bytes at each read.
class Source {
 public:
  Source(std::string input, size_t chunk, const std::string* body)
      : m_input(std::move(input)), m_chunk(chunk), m_body(body) {}

  FrameReader::ReadFunction Reader() {
    return [this](char* buffer, size_t n) {
      m_bodyStorage.push_back(m_body->data());
      const size_t count = std::min({n, m_chunk, m_input.size() - m_at});
      m_input.copy(buffer, count, m_at);
      m_at += count;
      ++m_reads;
      return count;
    };
  }

  std::vector<const char*> m_bodyStorage;
  size_t m_reads = 0;

 private:
  std::string m_input;
  size_t m_chunk;
  size_t m_at = 0;
  const std::string* m_body;
};

TEST(FrameReaderStorageTest, ABodyIsReservedOnceAndItsStorageServesTheNextFrames) {
  const std::string large(3 << 20, 'x');
  std::string body;
  Source source(EncodeFrame(large) + EncodeFrame("{}") + EncodeFrame(std::string(1000, 'y')), 4093, &body);
  FrameReader reader(source.Reader(), 4096);
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, large);
  // From the second read on, the body grew into storage reserved before
  // the first byte arrived: it never moved.
  ASSERT_GT(source.m_bodyStorage.size(), 2u);
  const char* storage = source.m_bodyStorage[1];
  EXPECT_TRUE(std::all_of(source.m_bodyStorage.begin() + 1, source.m_bodyStorage.end(),
                          [&](const char* at) { return at == storage; }));
  EXPECT_EQ(body.data(), storage);
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, "{}");
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, std::string(1000, 'y'));
  EXPECT_EQ(body.data(), storage) << "the caller's storage is kept across frames";
  EXPECT_FALSE(reader.ReadFrame(body));
}

TEST(FrameReaderStorageTest, AHugeAnnouncedLengthReservesNoMoreThanTheCap) {
  // The longest length still kept, followed by two bytes and the end.
  std::string body;
  Source source(EncodeFrameLength(static_cast<uint32_t>(FrameReader::kMaxBody)) + "{}", 2, &body);
  FrameReader reader(source.Reader());
  EXPECT_FALSE(reader.ReadFrame(body));
  EXPECT_LE(body.capacity(), FrameReader::kMaxBodyReserve + 64);
  EXPECT_EQ(body, "{}") << "what arrived is kept; the stream has ended";
  EXPECT_EQ(reader.drained_frames(), 0u);
}

TEST(FrameReaderStorageTest, ABodyBeyondTheReserveEndsAtItsLengthAndIsNotKeptForTheNextFrame) {
  const std::string large(FrameReader::kMaxBodyReserve + 5, 'q');
  std::string body;
  Source source(EncodeFrame(large) + EncodeFrame("{}"), size_t{1} << 20, &body);
  FrameReader reader(source.Reader());
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, large);
  // Grown once, to its length: not doubled to twice the reserve.
  EXPECT_LT(body.capacity(), large.size() + 64);
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, "{}");
  EXPECT_LE(body.capacity(), FrameReader::kMaxBodyReserve) << "the large storage was let go";
}

// Hands out the frame of `length` announced bytes (the announced bytes are
// made as they are read, never held), then the bytes of `rest`; `chunk`
// bytes at most per read. Records how much the body held at each read.
class LongFrameSource {
 public:
  LongFrameSource(uint32_t length, std::string rest, const std::string* body)
      : m_header(EncodeFrameLength(length)), m_length(length), m_rest(std::move(rest)), m_body(body) {}

  FrameReader::ReadFunction Reader() {
    return [this](char* buffer, size_t n) {
      m_largestBody = std::max(m_largestBody, m_body->capacity());
      size_t count = 0;
      for (; count < n && m_at < m_header.size(); ++count, ++m_at) buffer[count] = m_header[m_at];
      const size_t bodyEnd = m_header.size() + m_length;
      const size_t filler = std::min(n - count, bodyEnd - std::min(bodyEnd, m_at));
      std::fill_n(buffer + count, filler, 'x');
      count += filler;
      m_at += filler;
      for (; count < n && m_at - bodyEnd < m_rest.size(); ++count, ++m_at) buffer[count] = m_rest[m_at - bodyEnd];
      return count;
    };
  }

  size_t m_largestBody = 0;

 private:
  std::string m_header;
  size_t m_length;
  std::string m_rest;
  size_t m_at = 0;
  const std::string* m_body;
};

TEST(FrameReaderDrainTest, AFrameLongerThanTheLimitIsDrainedAndTheNextOneRead) {
  std::string body = "left from before";
  LongFrameSource source(static_cast<uint32_t>(FrameReader::kMaxBody + 1),
                         EncodeFrame(R"({"next":1})") + EncodeFrame("{}"), &body);
  FrameReader reader(source.Reader(), size_t{1} << 20);
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, R"({"next":1})") << "the long frame was skipped whole, to its last byte";
  EXPECT_EQ(reader.drained_frames(), 1u);
  EXPECT_LE(source.m_largestBody, size_t{64}) << "none of the drained bytes was kept";
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, "{}");
  EXPECT_FALSE(reader.ReadFrame(body));
  EXPECT_EQ(reader.drained_frames(), 1u);
}

TEST(FrameReaderDrainTest, LengthsWithTheTopBitSetStillMeanNoBody) {
  // 0x80000000 and above announce no body at all, however large they read.
  std::string body;
  Source source(std::string("\x00\x00\x00\x80", 4) + std::string("\xff\xff\xff\xff", 4) + EncodeFrame("{}"), 3, &body);
  FrameReader reader(source.Reader());
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, "");
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, "");
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, "{}");
  EXPECT_EQ(reader.drained_frames(), 0u);
}

TEST(FrameReaderDrainTest, EndOfInputInsideADrainedFrameEndsTheStream) {
  std::string body;
  // Announces 2 GiB - 1 and ends after a few bytes.
  Source source(std::string("\xff\xff\xff\x7f", 4) + "{\"a\":1}", 5, &body);
  FrameReader reader(source.Reader());
  EXPECT_FALSE(reader.ReadFrame(body));
  EXPECT_EQ(reader.drained_frames(), 1u);
  EXPECT_EQ(body, "") << "nothing of the drained frame is handed out";
}

TEST(FrameReaderStorageTest, BytesMoveInPiecesAsLargeAsTheReads) {
  const std::string large(1 << 20, 'z');
  std::string body;
  Source source(EncodeFrame(large), size_t{1} << 20, &body);
  FrameReader reader(source.Reader());
  ASSERT_TRUE(reader.ReadFrame(body));
  EXPECT_EQ(body, large);
  // 64 KiB per read, one more to take the length bytes' share.
  EXPECT_LE(source.m_reads, 17u);
}

}  // namespace
}  // namespace vorneth
