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
  if (offset_ > 0 && offset_ >= buffer_.size() / 2) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<uint32_t> FrameDecoder::pending_length() const {
  if (buffered() < kFrameHeaderSize) return std::nullopt;
  return DecodeFrameLength(buffer_.data() + offset_);
}

std::optional<std::string> FrameDecoder::Next() {
  if (failed_) return std::nullopt;
  const std::optional<uint32_t> length = pending_length();
  if (!length) return std::nullopt;
  if (*length > max_body_) {
    failed_ = true;
    return std::nullopt;
  }
  if (buffered() - kFrameHeaderSize < *length) return std::nullopt;
  std::string body = buffer_.substr(offset_ + kFrameHeaderSize, *length);
  offset_ += kFrameHeaderSize + *length;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  }
  return body;
}

}  // namespace vorneth
