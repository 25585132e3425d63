// The host's frame reader: how it holds a body's bytes. (Framing itself is
// tested with the output in tests/host.)
#include "frame/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame/frame_codec.h"

namespace vorneth {
namespace {

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
  std::string body;
  Source source(std::string("\xff\xff\xff\x7f{}", 6), 2, &body);
  FrameReader reader(source.Reader());
  EXPECT_FALSE(reader.ReadFrame(body));
  EXPECT_LE(body.capacity(), FrameReader::kMaxBodyReserve + 64);
  EXPECT_EQ(body, "{}") << "what arrived is kept; the stream has ended";
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
