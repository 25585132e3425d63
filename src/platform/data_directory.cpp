#include "platform/data_directory.h"

#include <cstdlib>
#include <utility>

#include "platform/data_directory_native.h"
#include "platform/text_conversion.h"
#include "platform/trace.h"

namespace vorneth {

bool GetDataDirectory(std::string& path) {
  return GetDataDirectoryWith(
      [](const char* name) -> std::optional<std::string> {
        // The host never changes its environment, so reading it races with
        // nothing.
        const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
        if (value == nullptr) return std::nullopt;
        return std::string(value);
      },
      path);
}

bool GetDataDirectoryWith(const EnvironmentLookup& environment, std::string& path) {
  TraceFunction trace("GetDataDirectory");
  const std::optional<std::string> base = native::UserDataFolder(environment);
  if (!base) {
    trace.Message("no per-user data folder");
    return false;
  }
  std::string directory = *base;
  directory += kPathSeparator;
  directory += kDataFolderName;
  // The rest of the host treats paths as UTF-8; a folder whose name is not
  // is refused rather than handed on.
  if (!IsStrictUtf8(directory)) {
    trace.Message("the data folder's name is not UTF-8");
    return false;
  }
  if (!CreateDirectoryTree(directory)) return false;
  std::optional<std::string> handedOut = native::HandedOutForm(directory);
  if (!handedOut) {
    trace.Message("no usable form of the data folder's path");
    return false;
  }
  trace.Text("path.c_str ()", *handedOut);
  path = std::move(*handedOut);
  trace.SetResult(1);
  return true;
}

bool CreateDirectoryTree(const std::string& path) {
  TraceFunction trace("CreateDirectoryTree");
  trace.Text("path.c_str ()", path);
  const bool ok = !path.empty() && native::CreateDirectories(path);
  trace.SetResult(ok ? 1 : 0);
  return ok;
}

bool DeleteDirectoryTree(const std::string& path) {
  TraceFunction trace("DeleteDirectoryTree");
  trace.Text("path.c_str ()", path);
  const bool ok = !path.empty() && native::DeleteTree(path);
  trace.SetResult(ok ? 1 : 0);
  return ok;
}

bool RenameDirectory(const std::string& from, const std::string& to) {
  TraceFunction trace("RenameDirectory");
  trace.Text("from.c_str ()", from);
  trace.Text("to.c_str ()", to);
  const bool ok = !from.empty() && !to.empty() && native::RenameFolder(from, to);
  trace.SetResult(ok ? 1 : 0);
  return ok;
}

}  // namespace vorneth
