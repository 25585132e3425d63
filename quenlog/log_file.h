// The trace file as the system sees it: opened for appending by every host
// process at once, written a line at a time, and rotated by whichever
// process finds it over its size.
//
// Each line goes to the end of the file in one write, so the lines of
// several processes never mix. Rotation is a rename, done under a lock on
// the file that every rotating process takes, after checking that the path
// still names the file this process has open: two processes that reach the
// cap together rotate once, and the second simply reopens the new file.
//
// Paths are UTF-8. Every member may fail; none throws. A LogFile is used by
// one thread at a time (the sink's lock keeps it so).
#ifndef QUENLOG_LOG_FILE_H_
#define QUENLOG_LOG_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quenlog {

class LogFile {
 public:
  LogFile() = default;
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens `path` for appending, creating it (readable by the user only on
  // POSIX) when missing; closes what was open before. False when it cannot
  // be opened (a missing or read-only folder, a folder at that name).
  bool Open(const std::string& path);
  bool IsOpen() const { return m_handle != kNoHandle; }
  void Close();

  // Appends `line` at the end of the file and sets `size` to the file's size
  // just after it. False on any failure, a short write included (a full
  // disk): what was written of the line stays.
  bool Append(std::string_view line, uint64_t& size);

  // Takes and releases the rotation lock of the open file; Lock waits while
  // another process holds it. False when the lock cannot be had.
  bool LockForRotation();
  void UnlockRotation();
  // True when `path` names the open file (and not a new one that another
  // process created after rotating this one away).
  bool Names(const std::string& path) const;

  // Renames `from` to `to`, replacing `to`. False when it fails.
  static bool Rename(const std::string& from, const std::string& to);

 private:
  static constexpr intptr_t kNoHandle = -1;
  // The platform's descriptor or handle, kNoHandle when closed.
  intptr_t m_handle = kNoHandle;
};

}  // namespace quenlog

#endif  // QUENLOG_LOG_FILE_H_
