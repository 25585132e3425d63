#include "frame/frame_reader.h"

#include <algorithm>
#include <cstdint>

#include "frame/frame_codec.h"

namespace vorneth {

FrameReader::FrameReader(ReadFunction read, size_t bufferSize) : read_(std::move(read)), buffer_(bufferSize) {}

bool FrameReader::Fill() {
  if (begin_ < end_) return true;
  begin_ = end_ = 0;
  end_ = read_(buffer_.data(), buffer_.size());
  return end_ > 0;
}

bool FrameReader::ReadFrame(std::string& body) {
  char header[kFrameHeaderSize];
  for (char& byte : header) {
    if (!Fill()) return false;
    byte = buffer_[begin_++];
  }
  const uint32_t length = DecodeFrameLength(header);
  body.clear();
  // The top bit set means a negative length: no body follows.
  if (length == 0 || (length & 0x80000000u) != 0) return true;
  size_t remaining = length;
  while (remaining > 0) {
    if (!Fill()) return false;
    const size_t take = std::min(remaining, end_ - begin_);
    body.append(buffer_.data() + begin_, take);
    begin_ += take;
    remaining -= take;
  }
  return true;
}

}  // namespace vorneth
