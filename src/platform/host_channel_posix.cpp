#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/fd_io_posix.h"
#include "platform/host_channel_native.h"

namespace vorneth::native {
namespace {

int g_outputFd = STDOUT_FILENO;

Status Failed(const char* what, int error) {
  return ErrnoFailure(what, error);
}

}  // namespace

Status OpenMissingStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself: those below it are open.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) return Failed("cannot open /dev/null", errno);
    if (opened != fd) {
      const int error = dup2(opened, fd) < 0 ? errno : 0;
      close(opened);
      if (error != 0) return Failed("cannot replace a standard stream", error);
    }
  }
  return Status::Ok();
}

Status TakeOverStandardOutput() {
  signal(SIGPIPE, SIG_IGN);
  const int privateFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (privateFd < 0) return Failed("cannot duplicate standard output", errno);
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    const int error = errno;
    close(privateFd);
    return Failed("cannot point standard output at standard error", error);
  }
  g_outputFd = privateFd;
  return Status::Ok();
}

// A pipe holds 64 KiB unless asked for more: a large request then crosses
// in many small turns of writer and reader. Up to 1 MiB needs no privilege.
// Only a hint: a channel that is no pipe, or a smaller system limit, leaves
// the size as it is.
void WidenChannelPipes() {
  constexpr int kPipeSize = 1 << 20;
  fcntl(STDIN_FILENO, F_SETPIPE_SZ, kPipeSize);
  if (g_outputFd >= 0) fcntl(g_outputFd, F_SETPIPE_SZ, kPipeSize);
}

size_t ReadStandardInput(char* buffer, size_t size) {
  for (;;) {
    const ssize_t count = read(STDIN_FILENO, buffer, size);
    if (count >= 0) return static_cast<size_t>(count);
    if (errno != EINTR) return 0;
  }
}

Status WriteFrameOutput(const char* data, size_t size) {
  if (!WriteAllToFd(g_outputFd, data, size)) return Failed("cannot write a frame", errno);
  return Status::Ok();
}

}  // namespace vorneth::native
