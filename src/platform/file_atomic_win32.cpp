// Replacing a file in one step on Windows: a temporary file in the target's
// folder, flushed to disk, then moved over the target with write-through, so
// the replacement reaches the disk before the call returns. MoveFileEx
// replaces a link at the target as an entry; it does not follow it.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "platform/file_io_internal.h"
#include "platform/windows_text.h"

namespace vorneth::file_io {
namespace {

// At most about two seconds of pauses in all before a replacement that
// readers keep refusing is given up.
constexpr DWORD kMoveAttempts = 48;

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Owns the temporary file's handle and, unless committed, the file itself.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path)
      : m_path(std::move(path)),
        m_handle(CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~TemporaryFile() {
    Close();
    if (!m_committed) DeleteFileW(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool opened() const { return m_handle != INVALID_HANDLE_VALUE; }
  bool WriteAll(const std::string& content) {
    size_t at = 0;
    while (at < content.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - at, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(m_handle, content.data() + at, chunk, &written, nullptr) || written == 0) return false;
      at += written;
    }
    return FlushFileBuffers(m_handle) != 0;
  }
  void Close() {
    if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
  }
  // A target that a reader has open cannot be replaced until the reader
  // closes it (the system refuses with a sharing or access error, whatever
  // the reader's sharing flags), and readers hold the file only while they
  // read it whole: such a refusal is tried again, a bounded number of times
  // with growing pauses. A folder at the target refuses for good.
  bool MoveOver(const std::wstring& target) {
    Close();
    DWORD error = ERROR_SUCCESS;
    for (DWORD attempt = 0, pause = 1; attempt < kMoveAttempts; ++attempt, pause = std::min<DWORD>(pause * 2, 50)) {
      if (MoveFileExW(m_path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        m_committed = true;
        return true;
      }
      error = GetLastError();
      if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || IsFolder(target)) break;
      Sleep(pause);
    }
    // The caller reports the refusal that ended the attempts.
    SetLastError(error);
    return false;
  }

 private:
  std::wstring m_path;
  HANDLE m_handle;
  bool m_committed = false;
};

std::atomic<unsigned> g_sequence{0};

}  // namespace

Status ReplaceWhole(const std::string& path, const std::string& /*folder*/, const std::string& content) {
  const std::wstring target = WindowsWide(path);
  if (target.empty()) return Status::Failed("the path is not valid UTF-8");
  // Unique within the folder: the process id and a per-process counter.
  const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(g_sequence.fetch_add(1)) + L".tmp";
  TemporaryFile file(temporary);
  if (!file.opened()) return Status::Failed(SystemError("cannot create a temporary file"));
  if (!file.WriteAll(content)) return Status::Failed(SystemError("cannot write"));
  if (!file.MoveOver(target)) return Status::Failed(SystemError("cannot move over the target"));
  return Status::Ok();
}

}  // namespace vorneth::file_io
