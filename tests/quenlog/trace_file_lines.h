// Reading the logging library's trace files back in tests.
#ifndef VORNETH_TESTS_QUENLOG_TRACE_FILE_LINES_H_
#define VORNETH_TESTS_QUENLOG_TRACE_FILE_LINES_H_

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vorneth::testing {

// The whole file; empty when it is missing.
inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The file's lines without their line feeds. A last line without one is
// kept with a "<no line feed>" mark, so that a test sees it as broken.
inline std::vector<std::string> FileLines(const std::filesystem::path& path) {
  const std::string text = FileText(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line feed>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// True when `line` has the form of a trace line: UTC time with
// milliseconds, process, thread, scope, and an event:
// "dddd-dd-dd dd:dd:dd.dddZ p<digits> t<digits> <scope> <event...>".
// (Read by hand: std::regex trips false warnings of g++ in some builds.)
inline bool IsTraceLine(const std::string& line) {
  constexpr std::string_view kTimeForm = "dddd-dd-dd dd:dd:dd.dddZ ";
  if (line.size() < kTimeForm.size()) return false;
  for (size_t i = 0; i < kTimeForm.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kTimeForm[i] == 'd' ? !digit : line[i] != kTimeForm[i]) return false;
  }
  size_t at = kTimeForm.size();
  // "p<digits> " then "t<digits> ".
  for (const char mark : {'p', 't'}) {
    if (at >= line.size() || line[at] != mark) return false;
    const size_t digits = ++at;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
    if (at == digits || at >= line.size() || line[at] != ' ') return false;
    ++at;
  }
  // A scope without spaces, one space, and an event that starts with a
  // character that is not a space.
  const size_t space = line.find(' ', at);
  return space != std::string::npos && space > at && space + 1 < line.size() && line[space + 1] != ' ';
}

// The part of a line after its process and thread: "<scope> <event>".
inline std::string ScopeAndEvent(const std::string& line) {
  size_t at = line.find(" t");
  if (at == std::string::npos) return {};
  at = line.find(' ', at + 2);
  return at == std::string::npos ? std::string() : line.substr(at + 1);
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_QUENLOG_TRACE_FILE_LINES_H_
