// The native-messaging frame as seen from the browser's side: a 4-byte
// little-endian length followed by that many bytes of body, in both
// directions.
//
// EncodeFrame turns one body into one frame. FrameDecoder takes the bytes of
// a stream in pieces of any size (as reads from a pipe deliver them) and
// hands back whole bodies in order; a frame split across pieces is kept until
// its last byte arrives.
//
// The decoder reads the length as an unsigned 32-bit number, as the host
// writes it. A length above the decoder's limit cannot come from a sane
// sender; the decoder then stops for good (failed() turns true) rather than
// wait for gigabytes that will never arrive.
//
// Thread safety: none; one decoder belongs to one reader.
#ifndef VORNETH_FRAME_FRAME_CODEC_H_
#define VORNETH_FRAME_FRAME_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorneth {

inline constexpr size_t kFrameHeaderSize = 4;

// The frame of `body`: its length in 4 bytes, least significant first, then
// the body bytes unchanged.
std::string EncodeFrame(std::string_view body);

// Just the 4 length bytes for a body of `length` bytes.
std::string EncodeFrameLength(uint32_t length);

// The length that the kFrameHeaderSize bytes at `header` announce, read as
// an unsigned 32-bit number, least significant byte first. The one place
// that decodes a length; readers that treat the top bit as a sign do so on
// the result.
uint32_t DecodeFrameLength(const char* header);

class FrameDecoder {
 public:
  static constexpr uint32_t kDefaultMaxBody = 64u << 20;  // 64 MiB

  explicit FrameDecoder(uint32_t max_body = kDefaultMaxBody) : m_maxBody(max_body) {}

  // Adds the next bytes of the stream.
  void Append(std::string_view bytes);

  // The body of the next whole frame, or nullopt when the buffered bytes do
  // not hold one yet (or the decoder has failed). A length of 0 yields an
  // empty body.
  std::optional<std::string> Next();

  // Bytes received but not yet returned by Next: 0 exactly when the stream
  // so far ended on a frame boundary.
  size_t buffered() const { return m_buffer.size() - m_offset; }

  // True once a length above the limit was met; Next returns nothing after.
  bool failed() const { return m_failed; }

  // Length announced by the frame that is waiting for its body, when the
  // header is complete; nullopt otherwise.
  std::optional<uint32_t> pending_length() const;

 private:
  uint32_t m_maxBody;
  std::string m_buffer;
  size_t m_offset = 0;  // start of the first byte not yet returned
  bool m_failed = false;
};

}  // namespace vorneth

#endif  // VORNETH_FRAME_FRAME_CODEC_H_
