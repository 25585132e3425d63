#include "host/frame_reader.h"

#include <algorithm>
#include <cstdint>

namespace vorneth {

FrameReader::FrameReader(ReadFunction read, size_t bufferSize) : read_(std::move(read)), buffer_(bufferSize) {}

bool FrameReader::Fill() {
  if (begin_ < end_) return true;
  begin_ = end_ = 0;
  end_ = read_(buffer_.data(), buffer_.size());
  return end_ > 0;
}

bool FrameReader::ReadFrame(std::string& body) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    if (!Fill()) return false;
    length |= static_cast<uint32_t>(static_cast<unsigned char>(buffer_[begin_++])) << (8 * i);
  }
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
