// A trivial native-messaging host for the browser test's figures: it
// answers each frame at once with a minimal JSON echo carrying the request's
// "callbackId" and "portId", so that the round trip through the browser and
// the extension can be measured beside the real host's. It ends at the end of
// its input, as the browser's hosts do.
//
// The members are found by a plain text search: the extension writes compact
// JSON and the page library's callback ids and the worker's port ids need no
// escapes. It is a measuring stick, not a JSON reader.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "frame/frame_codec.h"

namespace {

// The text of string member `name` in the compact JSON `body`; empty when
// it is missing.
std::string_view Member(std::string_view body, std::string_view name) {
  const std::string key = "\"" + std::string(name) + "\":\"";
  const size_t start = body.find(key);
  if (start == std::string_view::npos) return {};
  const size_t begin = start + key.size();
  const size_t end = body.find('"', begin);
  return end == std::string_view::npos ? std::string_view{} : body.substr(begin, end - begin);
}

bool ReadExactly(std::string& buffer, size_t size) {
  buffer.resize(size);
  return size == 0 || std::fread(buffer.data(), 1, size, stdin) == size;
}

}  // namespace

int main() {
  std::string header;
  std::string body;
  while (ReadExactly(header, vorneth::kFrameHeaderSize)) {
    const uint32_t length = vorneth::DecodeFrameLength(header.data());
    if (length > vorneth::FrameDecoder::kDefaultMaxBody || !ReadExactly(body, length)) return 1;
    const std::string answer = "{\"callbackId\":\"" + std::string(Member(body, "callbackId")) + "\",\"portId\":\"" +
                               std::string(Member(body, "portId")) +
                               "\",\"response\":\"echo\",\"rtype\":\"Vorneth-I\"}";
    const std::string frame = vorneth::EncodeFrame(answer);
    if (std::fwrite(frame.data(), 1, frame.size(), stdout) != frame.size() || std::fflush(stdout) != 0) return 1;
  }
  return 0;
}
