#include "platform/host_channel.h"

#include "platform/fd_io_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace vorneth {
namespace {

int g_outputFd = STDOUT_FILENO;

}  // namespace

bool OpenHostChannel() {
  signal(SIGPIPE, SIG_IGN);
  const int privateFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (privateFd < 0) return false;
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    close(privateFd);
    return false;
  }
  g_outputFd = privateFd;
  return true;
}

size_t ReadHostInput(char* buffer, size_t size) {
  for (;;) {
    const ssize_t count = read(STDIN_FILENO, buffer, size);
    if (count >= 0) return static_cast<size_t>(count);
    if (errno != EINTR) return 0;
  }
}

bool WriteHostOutput(const char* data, size_t size) { return WriteAllToFd(g_outputFd, data, size); }

}  // namespace vorneth
