#include "process_stats.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "support/file_bytes.h"

namespace vorneth::soak {

namespace {

// Bounds the directory walks: /proc of a busy machine holds a few thousand
// processes, a host a few dozen descriptors.
constexpr int kMaxEntries = 1 << 20;

// The number after "<name>:" in a /proc status text; nullopt without one.
std::optional<uint64_t> StatusField(const std::string& status, const std::string& name) {
  const size_t at = status.find("\n" + name + ":");
  if (at == std::string::npos) return std::nullopt;
  std::istringstream in(status.substr(at + name.size() + 2, 32));
  uint64_t number = 0;
  if (!(in >> number)) return std::nullopt;
  return number;
}

// The parent pid from /proc/<pid>/stat: the fourth field, after the
// command name in parentheses (which may itself hold blanks).
pid_t ParentOf(const std::string& pid) {
  const std::string stat = vorneth::testing::ReadBytes("/proc/" + pid + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream in(stat.substr(close + 1));
  std::string state;
  pid_t parent = 0;
  in >> state >> parent;
  return parent;
}

}  // namespace

std::optional<ProcessStats> ReadProcessStats(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  const std::string status = vorneth::testing::ReadBytes(base + "/status");
  const std::optional<uint64_t> rss = StatusField(status, "VmRSS");
  const std::optional<uint64_t> threads = StatusField(status, "Threads");
  if (!rss || !threads) return std::nullopt;
  ProcessStats stats;
  stats.m_rssKib = *rss;
  stats.m_threads = *threads;
  std::error_code error;
  std::filesystem::directory_iterator entry(base + "/fd", error);
  for (int i = 0; !error && i < kMaxEntries && entry != std::filesystem::directory_iterator(); ++i) {
    ++stats.m_descriptors;
    entry.increment(error);
  }
  if (error) return std::nullopt;
  return stats;
}

pid_t FindChildByEnvironment(const std::string& variable, const std::string& value) {
  const std::string wanted = variable + "=" + value;
  std::error_code error;
  std::filesystem::directory_iterator entry("/proc", error);
  for (int i = 0; !error && i < kMaxEntries && entry != std::filesystem::directory_iterator(); ++i) {
    const std::string name = entry->path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos && ParentOf(name) == getpid()) {
      const std::string environment = vorneth::testing::ReadBytes("/proc/" + name + "/environ");
      // Each variable ends with a NUL, the first one starts the text.
      if (environment.starts_with(wanted + '\0') || environment.find('\0' + wanted + '\0') != std::string::npos) {
        return static_cast<pid_t>(std::atoi(name.c_str()));
      }
    }
    entry.increment(error);
  }
  return 0;
}

}  // namespace vorneth::soak
