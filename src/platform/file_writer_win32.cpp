// Writing inside a folder on Windows, with wide paths. Each folder on the
// way is looked at before it is used: one that is a reparse point (a
// symbolic link, a junction) fails the call. The file itself is opened with
// FILE_FLAG_OPEN_REPARSE_POINT and created new, after a non-folder entry of
// that name was deleted (DeleteFileW removes a link, not its target), so a
// link at the target is never written through.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_writer_native.h"
#include "platform/windows_text.h"

namespace vorneth::native {
namespace {

// The largest piece handed to one WriteFile call.
constexpr size_t kMaxWrite = size_t{1} << 30;

Status SystemFailure(const std::string& what) {
  return Status::Failed(what + ": error " + std::to_string(GetLastError()));
}

// The wide path of `base` followed by the first `count` components.
bool WidePath(const std::string& base, const std::vector<std::string>& components, size_t count, std::wstring& path) {
  std::string joined = base;
  for (size_t i = 0; i < count; ++i) joined += "\\" + components[i];
  path = WindowsWide(joined);
  return !path.empty();
}

// A folder that is no reparse point; false (with the reason) otherwise.
Status CheckFolder(const std::wstring& path, const std::string& name) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return SystemFailure("cannot find folder " + name);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Status::Failed(name + " is a link");
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Status::Failed(name + " is not a folder");
  return Status::Ok();
}

// Checks (and with `create` makes) the folders of the first `depth`
// components.
Status WalkFolders(const std::string& base, const std::vector<std::string>& components, size_t depth, bool create) {
  for (size_t i = 1; i <= depth; ++i) {
    std::wstring path;
    if (!WidePath(base, components, i, path)) return Status::Failed("the name is not valid UTF-8");
    const std::string& name = components[i - 1];
    if (create && !CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return SystemFailure("cannot create folder " + name);
    }
    Status status = CheckFolder(path, name);
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

}  // namespace

Status CreateFileBelow(const std::string& base, const std::vector<std::string>& components, intptr_t& handle) {
  Status status = WalkFolders(base, components, components.size() - 1, false);
  if (!status.ok()) return status;
  std::wstring path;
  if (!WidePath(base, components, components.size(), path)) return Status::Failed("the name is not valid UTF-8");
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      !DeleteFileW(path.c_str())) {
    return SystemFailure("cannot replace " + components.back());
  }
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return SystemFailure("cannot create " + components.back());
  handle = reinterpret_cast<intptr_t>(file);
  return Status::Ok();
}

Status WriteToFile(intptr_t handle, std::span<const uint8_t> bytes) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  size_t at = 0;
  while (at < bytes.size()) {
    const DWORD piece = static_cast<DWORD>(std::min(bytes.size() - at, kMaxWrite));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + at, piece, &written, nullptr) || written == 0) {
      return SystemFailure("cannot write");
    }
    at += written;
  }
  return Status::Ok();
}

Status CloseFile(intptr_t handle) {
  if (!CloseHandle(reinterpret_cast<HANDLE>(handle))) return SystemFailure("cannot close");
  return Status::Ok();
}

Status CreateFoldersBelow(const std::string& base, const std::vector<std::string>& components) {
  return WalkFolders(base, components, components.size(), true);
}

}  // namespace vorneth::native
