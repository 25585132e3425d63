#include "sanitizer_threads.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <utility>

namespace vorneth::soak {

namespace {

// Read per call at most: a long-lived host starts some thousand threads a
// minute, three lines of under a hundred bytes each.
constexpr size_t kMaxReadBytes = 16 << 20;

}  // namespace

int64_t StartedThreadNumber(std::string_view line) {
  // "==" pid "==T" number ": stack"
  if (line.substr(0, 2) != "==") return -1;
  const size_t tag = line.find("==T", 2);
  if (tag == std::string_view::npos) return -1;
  int64_t number = -1;
  size_t at = tag + 3;
  for (; at < line.size() && at < tag + 3 + 12 && std::isdigit(static_cast<unsigned char>(line[at])); ++at) {
    number = std::max<int64_t>(number, 0) * 10 + (line[at] - '0');
  }
  return line.substr(at, 8) == ": stack " ? number : -1;
}

SanitizerThreadCounter::SanitizerThreadCounter(std::string stderr_path) : m_path(std::move(stderr_path)) {}

uint64_t SanitizerThreadCounter::Update() {
  std::ifstream in(m_path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size <= static_cast<std::streamoff>(m_offset) || !in.seekg(static_cast<std::streamoff>(m_offset))) {
    return m_started;
  }
  // Only what was added since the last call, two seconds before: a few
  // kilobytes.
  std::string added(std::min<size_t>(kMaxReadBytes, static_cast<size_t>(size) - m_offset), '\0');
  in.read(added.data(), static_cast<std::streamsize>(added.size()));
  added.resize(static_cast<size_t>(in.gcount()));
  // A line still being written is read again next time, whole; one longer
  // than a whole read is no thread's line and is passed over.
  const size_t whole = added.rfind('\n');
  if (whole == std::string::npos) {
    if (added.size() == kMaxReadBytes) m_offset += added.size();
    return m_started;
  }
  std::string_view text(added.data(), whole + 1);
  m_offset += text.size();
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const int64_t number = StartedThreadNumber(text.substr(0, end));
    if (number >= 0) m_started = std::max(m_started, static_cast<uint64_t>(number) + 1);
    text.remove_prefix(end + 1);
  }
  return m_started;
}

}  // namespace vorneth::soak
