// Reads request frames: a 4-byte little-endian signed length, then that many
// bytes of body.
//
// A length of 0 or a negative length gives an empty body and consumes
// nothing more. End of input anywhere inside a frame (in the length bytes or
// in the body) ends the stream: ReadFrame returns false.
//
// A body longer than kMaxBody is never kept: its bytes are read and dropped
// a read buffer at a time, the frame is traced as a malformed request and
// counted (drained_frames), and the next frame is read in its place. Such a
// frame costs no memory beyond the read buffer.
//
// The body is reserved up front, but never beyond kMaxBodyReserve: a sender
// may announce up to kMaxBody and send nothing, so a larger body grows as its
// bytes arrive, doubling, to exactly its length (its storage is at most
// twice its bytes while it moves, once). The caller's string keeps its
// storage from frame to frame up to kMaxBodyReserve; a larger storage is let
// go when the next frame is read, so that a large request is not kept for
// the rest of the run. Bytes move from the read buffer in pieces as large as
// the reads.
#ifndef VORNETH_FRAME_FRAME_READER_H_
#define VORNETH_FRAME_FRAME_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vorneth {

class FrameReader {
 public:
  // `read` fills up to n bytes and returns the count, 0 at end of input.
  using ReadFunction = std::function<size_t(char* buffer, size_t n)>;

  static constexpr size_t kMaxBodyReserve = size_t{16} << 20;  // 16 MiB
  // The longest body kept: the largest add-on package a request may carry
  // (the host checks that the two limits agree).
  static constexpr size_t kMaxBody = size_t{256} << 20;  // 256 MiB

  explicit FrameReader(ReadFunction read, size_t bufferSize = size_t{64} * 1024);

  // Reads the next frame's body into `body`, replacing its content (and
  // keeping its storage up to kMaxBodyReserve). Frames longer than kMaxBody
  // are drained on the way. False at end of input.
  bool ReadFrame(std::string& body);

  // Frames longer than kMaxBody drained so far.
  size_t drained_frames() const { return m_drainedFrames; }

 private:
  // Makes at least one unread byte available; false at end of input.
  bool Fill();
  // The 4 length bytes, as read; false at end of input.
  bool ReadLength(uint32_t& length);
  // Reads `length` body bytes into `body`; false at end of input.
  bool ReadBody(size_t length, std::string& body);
  // Reads and drops `length` bytes; false at end of input.
  bool Drain(size_t length);

  ReadFunction m_read;
  // Left uninitialised: only bytes the reads put there are ever used, and
  // filling 64 KiB up front would cost the first request its page faults.
  std::unique_ptr<char[]> m_buffer;
  size_t m_size;
  size_t m_begin = 0;
  size_t m_end = 0;
  size_t m_drainedFrames = 0;
};

}  // namespace vorneth

#endif  // VORNETH_FRAME_FRAME_READER_H_
