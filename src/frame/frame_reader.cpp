#include "frame/frame_reader.h"

#include <algorithm>
#include <cstdint>

#include "frame/frame_codec.h"
#include "platform/trace.h"

namespace vorneth {

FrameReader::FrameReader(ReadFunction read, size_t bufferSize)
    : m_read(std::move(read)), m_buffer(std::make_unique_for_overwrite<char[]>(bufferSize)), m_size(bufferSize) {}

bool FrameReader::Fill() {
  if (m_begin < m_end) return true;
  m_begin = m_end = 0;
  m_end = m_read(m_buffer.get(), m_size);
  return m_end > 0;
}

bool FrameReader::ReadLength(uint32_t& length) {
  char header[kFrameHeaderSize];
  for (char& byte : header) {
    if (!Fill()) return false;
    byte = m_buffer[m_begin++];
  }
  length = DecodeFrameLength(header);
  return true;
}

bool FrameReader::ReadFrame(std::string& body) {
  // A large request is not kept once it has been served.
  if (body.capacity() > kMaxBodyReserve) std::string().swap(body);
  body.clear();
  for (;;) {
    uint32_t length = 0;
    if (!ReadLength(length)) return false;
    // The top bit set means a negative length: no body follows.
    if (length == 0 || (length & 0x80000000u) != 0) return true;
    if (length <= kMaxBody) return ReadBody(length, body);
    TraceFunction trace("FrameReader::ReadFrame");
    trace.Number("length", static_cast<int32_t>(length));
    trace.Message("request frame longer than the limit: drained, the request is ignored");
    ++m_drainedFrames;
    if (!Drain(length)) return false;
  }
}

bool FrameReader::ReadBody(size_t length, std::string& body) {
  body.reserve(std::min(length, kMaxBodyReserve));
  size_t remaining = length;
  while (remaining > 0) {
    if (!Fill()) return false;
    const size_t take = std::min(remaining, m_end - m_begin);
    if (body.size() + take > body.capacity()) {
      // Grown into a new string reserved from empty: the library's own
      // growth would double past the length, and so would a reserve on a
      // string that has storage already.
      std::string grown;
      grown.reserve(std::min(length, std::max(body.size() + take, 2 * body.capacity())));
      grown.append(body);
      body.swap(grown);
    }
    body.append(m_buffer.get() + m_begin, take);
    m_begin += take;
    remaining -= take;
  }
  return true;
}

bool FrameReader::Drain(size_t length) {
  size_t remaining = length;
  while (remaining > 0) {
    if (!Fill()) return false;
    const size_t take = std::min(remaining, m_end - m_begin);
    m_begin += take;
    remaining -= take;
  }
  return true;
}

}  // namespace vorneth
