// Writing files and folders inside a given folder without ever leaving it:
// for content that comes from outside (an archive's entries), whose names
// say where to write.
//
// A relative name is split into components on "/" (and also "\" on
// Windows); empty components are skipped. A name is refused (nothing is
// touched) when it is empty, starts with a separator, or has a component
// that is "." or "..", holds a NUL byte, or (on Windows) holds ":", which
// would name a drive or an alternate data stream. No component below the
// base folder is ever followed when it is a symbolic link (or another
// reparse point on Windows): such a component fails the call. The base
// folder itself is taken as given, links in its path included.
//
// Files are written in pieces, so memory stays bounded by the piece a
// caller hands over, whatever the file's size. Every failure is traced under
// the call's scope and returned with its reason. Stateless functions; a
// FileWriter is used from one thread at a time.
#ifndef VORNETH_PLATFORM_FILE_WRITER_H_
#define VORNETH_PLATFORM_FILE_WRITER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/status.h"

namespace vorneth {

class FileWriter {
 public:
  // Creates the regular file `relative` inside the existing folder `base`,
  // replacing an entry of that name that is not a folder (a link there is
  // removed as a link, its target untouched). The folders on the way must
  // exist already: none is created. On success `writer` holds the open,
  // empty file; on failure it is reset and nothing was created.
  static Status Create(const std::string& base, const std::string& relative, std::unique_ptr<FileWriter>& writer);
  // Closes the file when Finish() was not called; what was written stays.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Appends `bytes` to the file.
  Status Write(std::span<const uint8_t> bytes);
  // Closes the file and reports a late write error. Once only.
  Status Finish();

 private:
  explicit FileWriter(intptr_t handle) : m_handle(handle) {}
  // The platform's descriptor or handle, kNoHandle once closed.
  intptr_t m_handle;
};

// Creates the folder `relative` inside the existing folder `base`, with every
// missing folder on the way. Succeeds when it exists afterwards as a folder
// (one that existed already counts); a component that exists as a link or a
// file fails it.
Status CreateDirectoryTreeBelow(const std::string& base, const std::string& relative);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FILE_WRITER_H_
