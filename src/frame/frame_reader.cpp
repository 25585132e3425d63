#include "frame/frame_reader.h"

#include <algorithm>
#include <cstdint>

#include "frame/frame_codec.h"

namespace vorneth {

FrameReader::FrameReader(ReadFunction read, size_t bufferSize)
    : m_read(std::move(read)), m_buffer(std::make_unique_for_overwrite<char[]>(bufferSize)), m_size(bufferSize) {}

bool FrameReader::Fill() {
  if (m_begin < m_end) return true;
  m_begin = m_end = 0;
  m_end = m_read(m_buffer.get(), m_size);
  return m_end > 0;
}

bool FrameReader::ReadFrame(std::string& body) {
  char header[kFrameHeaderSize];
  for (char& byte : header) {
    if (!Fill()) return false;
    byte = m_buffer[m_begin++];
  }
  const uint32_t length = DecodeFrameLength(header);
  body.clear();
  // The top bit set means a negative length: no body follows.
  if (length == 0 || (length & 0x80000000u) != 0) return true;
  size_t remaining = length;
  body.reserve(std::min(remaining, kMaxBodyReserve));
  while (remaining > 0) {
    if (!Fill()) return false;
    const size_t take = std::min(remaining, m_end - m_begin);
    body.append(m_buffer.get() + m_begin, take);
    m_begin += take;
    remaining -= take;
  }
  return true;
}

}  // namespace vorneth
