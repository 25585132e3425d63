// Reads request frames: a 4-byte little-endian signed length, then that many
// bytes of body.
//
// A length of 0 or a negative length gives an empty body and consumes
// nothing more. End of input anywhere inside a frame (in the length bytes or
// in the body) ends the stream: ReadFrame returns false.
//
// The body is reserved up front, but never beyond kMaxBodyReserve: a sender
// may announce up to 2 GiB and send nothing, so a larger body grows as its
// bytes arrive. The caller's string keeps its storage from frame to frame,
// and bytes move from the read buffer in pieces as large as the reads.
#ifndef VORNETH_FRAME_FRAME_READER_H_
#define VORNETH_FRAME_FRAME_READER_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vorneth {

class FrameReader {
 public:
  // `read` fills up to n bytes and returns the count, 0 at end of input.
  using ReadFunction = std::function<size_t(char* buffer, size_t n)>;

  static constexpr size_t kMaxBodyReserve = size_t{16} << 20;  // 16 MiB

  explicit FrameReader(ReadFunction read, size_t bufferSize = size_t{64} * 1024);

  // Reads the next frame's body into `body`, replacing its content but
  // keeping its storage. False at end of input.
  bool ReadFrame(std::string& body);

 private:
  // Makes at least one unread byte available; false at end of input.
  bool Fill();

  ReadFunction m_read;
  // Left uninitialised: only bytes the reads put there are ever used, and
  // filling 64 KiB up front would cost the first request its page faults.
  std::unique_ptr<char[]> m_buffer;
  size_t m_size;
  size_t m_begin = 0;
  size_t m_end = 0;
};

}  // namespace vorneth

#endif  // VORNETH_FRAME_FRAME_READER_H_
