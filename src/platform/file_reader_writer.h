// Whole-file reading and writing.
//
// Every operation opens its own trace scope and traces its failures; the
// result says whether and why it failed, so a caller can pass the failure on.
// Paths are UTF-8 strings; a path that is not valid UTF-8 is refused.
//
// ReadFile opens without following a symbolic link in the last path
// component and without waiting (a FIFO or a device cannot hold the caller),
// and reads only regular files: anything else counts as a file that is there
// but cannot be read. WriteFileAtomically creates its temporary file
// exclusively and renames it over the path, which replaces a link there
// instead of writing through it. WriteFile is a plain open and write. Stateless: every function may be called
// from any thread; two writers of one file are kept apart by the caller.
#ifndef VORNETH_PLATFORM_FILE_READER_WRITER_H_
#define VORNETH_PLATFORM_FILE_READER_WRITER_H_

#include <cstdint>
#include <limits>
#include <string>

#include "platform/status.h"

namespace vorneth {

// The outcome of a read. kAbsent is the only failure that means "there is
// nothing": the path names no entry at all (a dangling link is an entry).
// kTooLarge only comes from a read with a limit.
enum class FileRead { kAbsent, kRead, kFailed, kTooLarge };

// The limit of a read that takes the whole file, however large.
inline constexpr uint64_t kNoReadLimit = std::numeric_limits<uint64_t>::max();

class FileReaderWriter {
 public:
  // The whole content of the regular file at `path`, NUL bytes included, in
  // `content` (cleared on every outcome other than kRead). A missing file is
  // kAbsent; a link, a folder, a FIFO, a device, a file without read
  // permission or an I/O error is kFailed. Both trace the message
  // "FileReaderWriter::ReadFile - ERROR - Vorneth ReadFile failed to open
  // file"; a failure also traces why.
  //
  // With a `limit`, a regular file of more than `limit` bytes is kTooLarge
  // (traced like a failure): its size is looked at before anything is read,
  // and a file that grows past the limit while it is read is given up at
  // that point, so no more than `limit` bytes are ever held.
  [[nodiscard]] static FileRead ReadFile(const std::string& path, std::string& content, uint64_t limit = kNoReadLimit);

  // Replaces the file's whole content with `content`, creating it if needed,
  // in place (a reader can see a partial file; see WriteFileAtomically).
  static Status WriteFile(const std::string& path, const std::string& content);

  // Replaces the file as one step: writes `content` to a temporary file
  // "<path>.<unique>.tmp" in the same folder, flushes it to disk and renames
  // it over `path`, so a reader sees either the old or the new content, never
  // a mix, even if the process dies midway (it then leaves the temporary file
  // behind; see RemoveTemporaryFiles). The new file keeps the permissions of
  // a regular file it replaces. On failure `path` is left untouched and no
  // temporary file remains.
  static Status WriteFileAtomically(const std::string& path, const std::string& content);

  // Removes the temporary files "<path>.*.tmp" that writers of `path` killed
  // midway left behind (regular files and links only, never what a link
  // points to). Only safe while the caller keeps every writer of `path` away,
  // since a live writer's temporary file has the same form. Fails when the
  // folder cannot be listed or a leftover cannot be removed.
  static Status RemoveTemporaryFiles(const std::string& path);

  // True when `path` names any entry: a file, a folder, a link (dangling or
  // not). Symbolic links are not followed.
  static bool Exists(const std::string& path);
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FILE_READER_WRITER_H_
