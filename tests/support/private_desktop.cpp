#include "support/private_desktop.h"

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/file_bytes.h"

namespace vorneth::testing {

std::optional<std::string> RunToEnd(const std::vector<std::string>& command, const Environment& environment,
                                    const std::string& input) {
  ChildProcess child;
  if (!child.Start({command, environment, {}})) {
    ADD_FAILURE() << child.error();
    return std::nullopt;
  }
  if (!input.empty() && !child.Write(input)) return std::nullopt;
  child.CloseInput();
  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + kDesktopWait;
  while (std::chrono::steady_clock::now() < deadline) {
    const ReadStatus status = child.Read(output, std::chrono::milliseconds(200));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  const std::optional<int> status = child.Wait(kDesktopWait);
  if (status != 0) {
    ADD_FAILURE() << command[0] << " ended with " << (status ? std::to_string(*status) : "no status in time");
    return std::nullopt;
  }
  return output;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void WriteStandIn(const std::string& path, const std::string& folder) {
  WriteText(path, "#!/bin/sh\nPATH=/usr/bin:/bin\ndir='" + folder +
                      "'\n"
                      "n=0\nwhile [ -e \"$dir/call.$n\" ]; do n=$((n+1)); done\n"
                      "printf '%s\\0' \"${0##*/}\" \"$@\" > \"$dir/call.$n\"\n"
                      "[ -e \"$dir/answer.$n\" ] && cat \"$dir/answer.$n\"\n"
                      "exit \"$(cat \"$dir/status.$n\" 2>/dev/null || echo 0)\"\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::vector<std::string> SplitNul(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end = text.find('\0'); end != std::string::npos; end = text.find('\0', start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace vorneth::testing
