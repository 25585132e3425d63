// FileReaderWriter::WriteFileAtomically on Windows: a temporary file in the target's
// folder, flushed to disk, then moved over the target with write-through, so
// the replacement reaches the disk before the call returns.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/file_reader_writer.h"
#include "platform/trace.h"
#include "platform/windows_text.h"

namespace vorneth {
namespace {

// Owns the temporary file's handle and, unless committed, the file itself.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path)
      : path_(std::move(path)),
        handle_(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~TemporaryFile() {
    Close();
    if (!committed_) DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool opened() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool WriteAll(const std::string& content) {
    size_t at = 0;
    while (at < content.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - at, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_, content.data() + at, chunk, &written, nullptr) || written == 0) return false;
      at += written;
    }
    return FlushFileBuffers(handle_) != 0;
  }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  bool MoveOver(const std::wstring& target) {
    Close();
    committed_ = MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    return committed_;
  }

 private:
  std::wstring path_;
  HANDLE handle_;
  bool committed_ = false;
};

std::atomic<unsigned> g_sequence{0};

}  // namespace

bool FileReaderWriter::WriteFileAtomically(const std::string& path, const std::string& content) {
  TraceFunction trace("FileReaderWriter::WriteFileAtomically");
  trace.Text("filePath.c_str ()", path);
  const std::wstring target = WindowsWide(path);
  if (target.empty()) return false;
  // Unique within the folder: the process id and a per-process counter.
  const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(g_sequence.fetch_add(1)) + L".tmp";
  TemporaryFile file(temporary);
  if (!file.opened() || !file.WriteAll(content)) return false;
  return file.MoveOver(target);
}

}  // namespace vorneth
