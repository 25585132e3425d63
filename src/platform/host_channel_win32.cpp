#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/host_channel.h"

namespace vorneth {
namespace {

int g_outputFd = 1;

}  // namespace

bool OpenHostChannel() {
  // Binary mode on both ends: in text mode a 0x0A byte in a length would
  // become 0x0D 0x0A on the way out and the reverse on the way in.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  const int privateFd = _dup(1);
  if (privateFd < 0) return false;
  _setmode(privateFd, _O_BINARY);
  std::fflush(stdout);
  if (_dup2(2, 1) < 0) {
    _close(privateFd);
    return false;
  }
  // Code that writes through the system handle rather than the C runtime
  // lands on standard error as well.
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  g_outputFd = privateFd;
  return true;
}

size_t ReadHostInput(char* buffer, size_t size) {
  const unsigned chunk = size > 1u << 30 ? 1u << 30 : static_cast<unsigned>(size);
  const int count = _read(0, buffer, chunk);
  return count > 0 ? static_cast<size_t>(count) : 0;
}

bool WriteHostOutput(const char* data, size_t size) {
  while (size > 0) {
    const unsigned chunk = size > 1u << 30 ? 1u << 30 : static_cast<unsigned>(size);
    const int count = _write(g_outputFd, data, chunk);
    if (count <= 0) return false;
    data += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

}  // namespace vorneth
