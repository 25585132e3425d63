// The platform halves of FileReaderWriter and FileLock. Internal to the
// platform layer: the common files (file_reader_writer.cpp, file_lock.cpp)
// open the trace scopes, check the arguments and trace the failures, and call
// these for the system calls, so the POSIX and Windows halves cannot drift in
// what they check or trace.
#ifndef VORNETH_PLATFORM_FILE_IO_INTERNAL_H_
#define VORNETH_PLATFORM_FILE_IO_INTERNAL_H_

#include <cstdint>
#include <string>

#include "platform/file_reader_writer.h"
#include "platform/status.h"

namespace vorneth::file_io {

// file_read_<platform>.cpp. `path` is valid UTF-8. Opens without following a
// link and without blocking, reads only a regular file of at most `limit`
// bytes (kTooLarge otherwise, checked on its size before reading and on
// the bytes read); on kFailed `why` says what failed. `content` is empty
// unless the result is kRead.
FileRead ReadRegularFile(const std::string& path, uint64_t limit, std::string& content, std::string& why);

// file_atomic_<platform>.cpp. `path` is valid UTF-8 and ends in a file name;
// `folder` is the part before that name, with its trailing separator (empty
// for the current folder).
Status ReplaceWhole(const std::string& path, const std::string& folder, const std::string& content);

#ifdef _WIN32
// file_read_win32.cpp, for both Windows halves: "<what>: error <code>" with
// the calling thread's last Windows error.
std::string SystemError(const char* what);
#endif

}  // namespace vorneth::file_io

#endif  // VORNETH_PLATFORM_FILE_IO_INTERNAL_H_
