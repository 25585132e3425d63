// Reading the logging library's trace files back in tests.
#ifndef VORNETH_TESTS_QUENLOG_TRACE_FILE_LINES_H_
#define VORNETH_TESTS_QUENLOG_TRACE_FILE_LINES_H_

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
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
// milliseconds, process, thread, scope, and an event.
inline bool IsTraceLine(const std::string& line) {
  static const std::regex form(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}Z p\d+ t\d+ \S+ \S.*)");
  return std::regex_match(line, form);
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
