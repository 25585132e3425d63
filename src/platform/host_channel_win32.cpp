#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host_channel_native.h"

namespace vorneth::native {
namespace {

int g_outputFd = 1;

Status Failed(const char* what, int error) {
  return ErrnoFailure(what, error);
}

Status FailedWin32(const char* what) {
  return Status::Failed(std::string(what) + ": system error " + std::to_string(GetLastError()));
}

bool IsMissing(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

// The system's standard handle `which`, opened on "NUL" when the process was
// started without one.
Status ReplaceMissingHandle(DWORD which) {
  if (!IsMissing(GetStdHandle(which))) return Status::Ok();
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  if (nul == INVALID_HANDLE_VALUE) return FailedWin32("cannot open NUL");
  if (!SetStdHandle(which, nul)) {
    const Status failed = FailedWin32("cannot set a standard handle");
    CloseHandle(nul);
    return failed;
  }
  return Status::Ok();
}

// The runtime's descriptor `fd` (0 to 2), opened on "NUL" when it has no
// system handle behind it.
Status ReplaceMissingDescriptor(int fd) {
  const intptr_t handle = _get_osfhandle(fd);
  if (handle != -1 && handle != -2) return Status::Ok();
  const int opened = _open("NUL", (fd == 0 ? _O_RDONLY : _O_WRONLY) | _O_BINARY);
  if (opened < 0) return Failed("cannot open NUL", errno);
  if (opened != fd) {
    const int error = _dup2(opened, fd) < 0 ? errno : 0;
    _close(opened);
    if (error != 0) return Failed("cannot replace a standard descriptor", error);
  }
  return Status::Ok();
}

}  // namespace

Status OpenMissingStandardStreams() {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    Status replaced = ReplaceMissingHandle(which);
    if (!replaced.ok()) return replaced;
  }
  for (int fd = 0; fd <= 2; ++fd) {
    Status replaced = ReplaceMissingDescriptor(fd);
    if (!replaced.ok()) return replaced;
  }
  return Status::Ok();
}

Status TakeOverStandardOutput() {
  // Binary mode on both ends: in text mode a 0x0A byte in a length would
  // become 0x0D 0x0A on the way out and the reverse on the way in.
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  const int privateFd = _dup(1);
  if (privateFd < 0) return Failed("cannot duplicate standard output", errno);
  _setmode(privateFd, _O_BINARY);
  std::fflush(stdout);
  if (_dup2(2, 1) < 0) {
    const int error = errno;
    _close(privateFd);
    return Failed("cannot point standard output at standard error", error);
  }
  // Code that writes through the system handle rather than the C runtime
  // lands on standard error as well.
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  g_outputFd = privateFd;
  return Status::Ok();
}

// The browser creates the pipes, with the sizes it chooses; a Windows pipe
// cannot be widened from the reading end.
void WidenChannelPipes() {}

size_t ReadStandardInput(char* buffer, size_t size) {
  const unsigned chunk = size > 1u << 30 ? 1u << 30 : static_cast<unsigned>(size);
  const int count = _read(0, buffer, chunk);
  return count > 0 ? static_cast<size_t>(count) : 0;
}

Status WriteFrameOutput(const char* data, size_t size) {
  while (size > 0) {
    const unsigned chunk = size > 1u << 30 ? 1u << 30 : static_cast<unsigned>(size);
    const int count = _write(g_outputFd, data, chunk);
    if (count <= 0) return Failed("cannot write a frame", errno);
    data += count;
    size -= static_cast<size_t>(count);
  }
  return Status::Ok();
}

}  // namespace vorneth::native
