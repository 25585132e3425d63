// locations.h on Linux: manifest files in the browsers' folders.
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "locations.h"
#include "platform/file_reader_writer.h"

namespace vorneth::reg {
namespace {

namespace fs = std::filesystem;

// The shared folder and the browser's own folders below it.
struct Folders {
  std::string m_base;
  std::string m_own;
};

bool FoldersOf(const Options& options, const Browser& browser, Scope scope, Folders& folders) {
  if (scope == Scope::kSystem) {
    folders = {options.m_root + std::string(browser.m_systemBase), std::string(browser.m_systemOwn)};
    return true;
  }
  folders = {browser.m_userUnderHome ? options.m_home : options.m_configHome, std::string(browser.m_userOwn)};
  return !folders.m_base.empty();
}

}  // namespace

Status PlanRegistration(const Options& options, const Browser& browser, Scope scope, Registration& registration) {
  Folders folders;
  if (!FoldersOf(options, browser, scope, folders)) {
    return Status::Failed("HOME is not set: the user's folders are unknown");
  }
  registration.m_browser = &browser;
  registration.m_scope = scope;
  registration.m_manifestPath = folders.m_base + "/" + folders.m_own + "/" + kManifestFileName;
  registration.m_where = registration.m_manifestPath;
  return Status::Ok();
}

Lookup FindRegistration(const Options& options, const Browser& browser, Scope scope, Registration& registration,
                        std::string& why) {
  const Status planned = PlanRegistration(options, browser, scope, registration);
  if (!planned.ok()) {
    why = planned.why();
    return Lookup::kFailed;
  }
  return FileReaderWriter::Exists(registration.m_manifestPath) ? Lookup::kFound : Lookup::kAbsent;
}

Status Publish(const Options&, const Registration& registration, const std::string& text) {
  return WriteReadableFile(registration.m_manifestPath, text);
}

Status Withdraw(const Options& options, const Registration& registration, bool& removed) {
  Status gone = RemoveFile(registration.m_manifestPath, removed);
  if (!gone.ok()) return gone;
  Folders folders;
  FoldersOf(options, *registration.m_browser, registration.m_scope, folders);
  // The browser's own folders, deepest first, while they are empty.
  fs::path own = folders.m_own;
  for (; !own.empty(); own = own.parent_path()) {
    std::error_code error;
    const fs::path folder = fs::path(folders.m_base) / own;
    if (!fs::is_directory(folder, error) || !fs::is_empty(folder, error) || error) break;
    if (!fs::remove(folder, error) || error) return Status::Failed("cannot remove the empty folder " + folder.string());
  }
  return Status::Ok();
}

std::optional<Finding> CheckHostFile(const std::string&, const std::string& hostField, std::string& resolved) {
  resolved = hostField;
  if (hostField.front() != '/') {
    return Finding{"\"path\" is the relative path \"" + hostField + "\"", "write the host's absolute path there",
                   Effect::kNotFound};
  }
  std::error_code error;
  if (!fs::is_regular_file(hostField, error)) {
    return Finding{"the host " + hostField + " does not exist (or is no file)",
                   "install the host there or point \"path\" at it", Effect::kCannotStart};
  }
  if (access(hostField.c_str(), X_OK) != 0) {
    return Finding{"the host " + hostField + " is not executable", "make it executable: chmod +x " + hostField,
                   Effect::kCannotStart};
  }
  return std::nullopt;
}

const char* TraceLibraryFileName() {
  return "libquenlog.so";
}
const char* HostFileName() {
  return "vorneth-host";
}

}  // namespace vorneth::reg
