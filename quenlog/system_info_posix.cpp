#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "system_info.h"

namespace quenlog {

uint64_t CurrentProcessId() {
  return static_cast<uint64_t>(::getpid());
}

// The kernel's thread id, as ps and /proc show it.
uint64_t CurrentThreadId() {
  return static_cast<uint64_t>(::syscall(SYS_gettid));
}

bool EnvironmentFlag(const char* name) {
  // Read once per process by the caller; the host never changes its
  // environment.
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace quenlog
