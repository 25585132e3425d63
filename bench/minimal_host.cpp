// minimal_host: the yardstick the host's speed is measured against. It does
// the least a correct host does for the benchmark's requests, plainly, on
// one thread:
//
//   - reads frames (4-byte little-endian length, then the body) from
//     standard input through a buffer of its own over read(2);
//   - parses each body with JsonCpp's Reader;
//   - "Vorneth-I" "Create" keeps the page's version and answers nothing;
//   - "Vorneth" "GetVersion" after a Create answers
//     {"callbackId":C,"instanceId":0,"portId":P,"response":[hex,V],"rtype":"Vorneth"}
//     written compactly, length and text in one write(2);
//   - every other request is ignored. It ends with status 0 when its input
//     ends (a read error counts as the end), with 1 when it cannot write.
//
// It is not a host: no store, no permissions, no padding of frame lengths
// (its answers stay far below the lengths that would need it). Keep it
// written as a competent engineer would write it the first time, not tuned:
// the figures of bench/host_vs_minimal.cpp are ratios against it.
#include <errno.h>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vorneth_version.h"

namespace {

constexpr size_t kHeaderSize = 4;

// Standard input through a buffer: the bytes asked for are copied out of
// it, and it is refilled with one read(2) whenever it runs empty.
class BufferedInput {
 public:
  // Fills `out` with exactly `size` bytes. False at the end of the input or
  // on a read error (a frame cut short counts as the end).
  bool ReadExactly(char* out, size_t size) {
    while (size > 0) {
      if (m_begin == m_end && !Refill()) return false;
      const size_t take = std::min(size, m_end - m_begin);
      std::memcpy(out, m_buffer.data() + m_begin, take);
      m_begin += take;
      out += take;
      size -= take;
    }
    return true;
  }

 private:
  bool Refill() {
    for (;;) {
      const ssize_t got = read(STDIN_FILENO, m_buffer.data(), m_buffer.size());
      if (got > 0) {
        m_begin = 0;
        m_end = static_cast<size_t>(got);
        return true;
      }
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
  }

  std::vector<char> m_buffer = std::vector<char>(size_t{64} * 1024);
  size_t m_begin = 0;
  size_t m_end = 0;
};

// The body of the next frame. False at the end of the input.
bool ReadFrame(BufferedInput& input, std::string& body) {
  unsigned char header[kHeaderSize];
  if (!input.ReadExactly(reinterpret_cast<char*>(header), kHeaderSize)) return false;
  const uint32_t length = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                          static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
  body.resize(length);
  return input.ReadExactly(body.data(), length);
}

// Writes `text` as one frame with a single write(2) (repeated only for what
// a short write left over). False when standard output cannot be written.
bool WriteFrame(const std::string& text) {
  const auto length = static_cast<uint32_t>(text.size());
  std::string frame;
  frame.reserve(kHeaderSize + text.size());
  for (size_t i = 0; i < kHeaderSize; ++i) frame.push_back(static_cast<char>(length >> (8 * i) & 0xFF));
  frame += text;
  const char* data = frame.data();
  size_t left = frame.size();
  while (left > 0) {
    const ssize_t wrote = write(STDOUT_FILENO, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    left -= static_cast<size_t>(wrote);
  }
  return true;
}

class MinimalHost {
 public:
  // Handles one request body; false only when the answer could not be written.
  bool Handle(const std::string& body) {
    Json::Value request;
    if (!m_reader.parse(body, request, /*collectComments=*/false) || !request.isObject()) return true;
    const Json::Value& type = request["type"];
    const Json::Value& command = request["command"];
    if (type == "Vorneth-I" && command == "Create") {
      m_version = request["version"];
      return true;
    }
    if (type == "Vorneth" && command == "GetVersion" && !m_version.isNull()) return AnswerVersion(request);
    return true;
  }

 private:
  bool AnswerVersion(const Json::Value& request) {
    Json::Value answer(Json::objectValue);
    answer["callbackId"] = request["callbackId"];
    answer["instanceId"] = 0;
    answer["portId"] = request["portId"];
    Json::Value& response = answer["response"];
    response.append(vorneth::kHostVersionHex);
    response.append(m_version);
    answer["rtype"] = "Vorneth";
    return WriteFrame(m_writer.write(answer));
  }

  Json::Reader m_reader;
  Json::FastWriter m_writer = [] {
    Json::FastWriter writer;
    writer.omitEndingLineFeed();
    return writer;
  }();
  Json::Value m_version;  // null until a Create names it
};

}  // namespace

int main() {
  BufferedInput input;
  MinimalHost host;
  std::string body;
  while (ReadFrame(input, body)) {
    if (!host.Handle(body)) return 1;
  }
  return 0;
}
