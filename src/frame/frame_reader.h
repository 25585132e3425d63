// Reads request frames: a 4-byte little-endian signed length, then that many
// bytes of body.
//
// A length of 0 or a negative length gives an empty body and consumes
// nothing more. End of input anywhere inside a frame (in the length bytes or
// in the body) ends the stream: ReadFrame returns false. Nothing is reserved
// up front from an announced length; the body grows as bytes arrive.
#ifndef VORNETH_FRAME_FRAME_READER_H_
#define VORNETH_FRAME_FRAME_READER_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vorneth {

class FrameReader {
 public:
  // `read` fills up to n bytes and returns the count, 0 at end of input.
  using ReadFunction = std::function<size_t(char* buffer, size_t n)>;

  explicit FrameReader(ReadFunction read, size_t bufferSize = size_t{64} * 1024);

  // Reads the next frame's body into `body`. False at end of input.
  bool ReadFrame(std::string& body);

 private:
  // Makes at least one unread byte available; false at end of input.
  bool Fill();

  ReadFunction m_read;
  std::vector<char> m_buffer;
  size_t m_begin = 0;
  size_t m_end = 0;
};

}  // namespace vorneth

#endif  // VORNETH_FRAME_FRAME_READER_H_
