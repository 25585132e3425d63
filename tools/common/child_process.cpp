#include <algorithm>

#include "common/child_process_native.h"

namespace vorneth::native {

std::string StartOptionsProblem(const ChildProcessOptions& options) {
  if (options.command.empty() || options.command[0].empty()) return "no program to start";
  for (int fd : options.closed_standard_streams) {
    if (fd < 0 || fd > 2) return "only standard descriptors 0 to 2 can be closed, not " + std::to_string(fd);
  }
  return {};
}

bool StartsWithout(const ChildProcessOptions& options, int fd) {
  const auto& closed = options.closed_standard_streams;
  return std::find(closed.begin(), closed.end(), fd) != closed.end();
}

}  // namespace vorneth::native
