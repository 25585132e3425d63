// The data directory and directory trees on POSIX systems.
//
// The per-user data folder is the XDG base directory for user data:
// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share when
// $HOME is an absolute path, else the home folder from the password database
// followed by /.local/share.
// Folders are created with mode 0700: everything under them is the user's
// private data. There is no short path form on these systems.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/data_directory_native.h"
#include "platform/fd_io_posix.h"

namespace vorneth::native {
namespace {

constexpr mode_t kFolderMode = 0700;
// Deeper trees are refused rather than risking the stack and the descriptor
// table; nothing the host creates comes close.
constexpr int kMaxDeleteDepth = 512;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool IsAbsolute(const char* path) {
  return path != nullptr && path[0] == '/';
}

std::string HomeFromPasswordDatabase() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t size = suggested > 0 ? static_cast<size_t>(suggested) : 16384;
  // Grows the buffer on ERANGE, up to a bound.
  for (int attempt = 0; attempt < 8; ++attempt, size *= 2) {
    std::vector<char> buffer(size);
    passwd entry{};
    passwd* result = nullptr;
    const int error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result);
    if (error == ERANGE) continue;
    if (error != 0 || result == nullptr || !IsAbsolute(result->pw_dir)) return std::string();
    return std::string(result->pw_dir);
  }
  return std::string();
}

// "/a/b//" -> "/a/b"; "/" -> "" (so that appending "/name" gives "/name").
std::string StripTrailingSeparators(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RemoveContents(int dir_fd, int depth);

// Removes the entry `name` of the open directory `dir_fd`. The entry is
// examined without following symbolic links and a subdirectory is opened
// relative to its parent with O_NOFOLLOW, so a link (even one swapped in
// while the delete runs) is unlinked and never entered. An entry that is
// already gone counts as removed.
bool RemoveEntry(int dir_fd, const char* name, int depth) {
  struct stat info {};
  if (fstatat(dir_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISDIR(info.st_mode)) {
    UniqueFd child(openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child.get() >= 0) {
      RemoveContents(child.get(), depth + 1);
      return unlinkat(dir_fd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
    }
    // Replaced by a non-directory since fstatat: remove it as such.
    if (errno != ELOOP && errno != ENOTDIR) return errno == ENOENT;
  }
  return unlinkat(dir_fd, name, 0) == 0 || errno == ENOENT;
}

// Removes everything inside the open directory `dir_fd`; true when it is
// empty afterwards. Whether a directory stream reports every entry while
// entries are being removed is unspecified, so after a pass that removed all
// it saw the stream is read again to confirm the folder is empty. A pass
// with a failure ends the work: retrying would only walk the failed subtrees
// again (and, level after level, multiply the work).
bool RemoveContents(int dir_fd, int depth) {
  if (depth > kMaxDeleteDepth) return false;
  UniqueFd reader(dup(dir_fd));
  if (reader.get() < 0) return false;
  UniqueDir dir(fdopendir(reader.get()));
  if (!dir) return false;
  reader.release();  // now owned by dir

  constexpr int kMaxPasses = 8;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    rewinddir(dir.get());
    bool seen_any = false;
    bool failed = false;
    // readdir is safe on a stream that no other thread uses.
    while (const dirent* entry = readdir(dir.get())) {  // NOLINT(concurrency-mt-unsafe)
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      seen_any = true;
      if (!RemoveEntry(dir_fd, name, depth)) failed = true;
    }
    if (!seen_any) return true;
    if (failed) return false;
  }
  return false;
}

}  // namespace

std::optional<std::string> UserDataFolder(const EnvironmentLookup& environment) {
  const std::optional<std::string> xdg = environment("XDG_DATA_HOME");
  if (xdg && IsAbsolute(xdg->c_str())) return StripTrailingSeparators(*xdg);
  const std::optional<std::string> homeVariable = environment("HOME");
  const std::string home =
      homeVariable && IsAbsolute(homeVariable->c_str()) ? *homeVariable : HomeFromPasswordDatabase();
  if (home.empty()) return std::nullopt;
  return StripTrailingSeparators(home) + "/.local/share";
}

// There is no short path form on these systems.
std::optional<std::string> HandedOutForm(const std::string& directory) {
  return directory;
}

// Unlike the Windows shell call, an existing file at `path` is a failure
// here: the caller asked for a directory and does not get one.
bool CreateDirectories(const std::string& path) {
  // The data directory is asked for before every store operation and is
  // nearly always there already: one stat instead of a mkdir per component.
  if (IsDirectory(path)) return true;
  // Walks the components left to right, creating each missing one.
  size_t end = 0;
  while (end < path.size()) {
    end = path.find('/', end + 1);
    if (end == std::string::npos) end = path.size();
    const std::string prefix = path.substr(0, end);
    if (prefix.empty() || prefix.back() == '/') continue;  // repeated separators
    if (mkdir(prefix.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      // An existing parent may still refuse mkdir with another error (for
      // example on a read-only mount); only a missing one is fatal.
      if (!IsDirectory(prefix)) return false;
    }
  }
  return IsDirectory(path);
}

// A `path` that is itself a symbolic link is removed as a link, as any link
// inside the tree would be; its target is left alone. A plain file at `path`
// is removed too. A missing `path` is a failure.
bool DeleteTree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) return unlink(path.c_str()) == 0;
  UniqueFd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return dir.get() >= 0 && RemoveContents(dir.get(), 0) && rmdir(path.c_str()) == 0;
}

// rename(2) moves a folder within one file system atomically.
bool RenameFolder(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace vorneth::native
