#include "frame/frame_codec.h"

namespace vorneth {

std::string EncodeFrameLength(uint32_t length) {
  std::string header(kFrameHeaderSize, '\0');
  for (size_t i = 0; i < kFrameHeaderSize; ++i) header[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return header;
}

uint32_t DecodeFrameLength(const char* header) {
  uint32_t length = 0;
  for (size_t i = 0; i < kFrameHeaderSize; ++i) {
    length |= static_cast<uint32_t>(static_cast<unsigned char>(header[i])) << (8 * i);
  }
  return length;
}

std::string EncodeFrame(std::string_view body) {
  std::string frame = EncodeFrameLength(static_cast<uint32_t>(body.size()));
  frame.append(body);
  return frame;
}

void FrameDecoder::Append(std::string_view bytes) {
  // Drop what was already handed out before growing, so a long stream of
  // small frames does not accumulate.
  if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
    m_buffer.erase(0, m_offset);
    m_offset = 0;
  }
  m_buffer.append(bytes);
}

std::optional<uint32_t> FrameDecoder::pending_length() const {
  if (buffered() < kFrameHeaderSize) return std::nullopt;
  return DecodeFrameLength(m_buffer.data() + m_offset);
}

std::optional<std::string> FrameDecoder::Next() {
  if (m_failed) return std::nullopt;
  const std::optional<uint32_t> length = pending_length();
  if (!length) return std::nullopt;
  if (*length > m_maxBody) {
    m_failed = true;
    return std::nullopt;
  }
  if (buffered() - kFrameHeaderSize < *length) return std::nullopt;
  std::string body = m_buffer.substr(m_offset + kFrameHeaderSize, *length);
  m_offset += kFrameHeaderSize + *length;
  if (m_offset == m_buffer.size()) {
    m_buffer.clear();
    m_offset = 0;
  }
  return body;
}

}  // namespace vorneth
