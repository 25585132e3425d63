// Writing inside a folder on POSIX systems: the base folder is opened once,
// and every component below it is reached with openat(2) and O_NOFOLLOW, so
// a symbolic link anywhere on the way fails the call instead of leading
// elsewhere, even one swapped in while the call runs. Files are created
// exclusively with mode 0600 and folders with mode 0700, like the rest of
// the user's data.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/fd_io_posix.h"
#include "platform/file_writer_native.h"

namespace vorneth::native {
namespace {

constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The folder reached from `base` through the first `depth` components, as
// a descriptor the caller owns; with `create`, missing folders are made on
// the way. The failure text is taken before a descriptor is closed.
Status OpenFolder(const std::string& base, const std::vector<std::string>& components, bool create, size_t depth,
                  int& fd) {
  int current = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) return ErrnoFailure("cannot open the base folder", errno);
  for (size_t i = 0; i < depth; ++i) {
    const UniqueFd parent(current);
    const char* name = components[i].c_str();
    if (create && mkdirat(parent.get(), name, kFolderMode) != 0 && errno != EEXIST) {
      return ErrnoFailure("cannot create folder " + components[i], errno);
    }
    current = openat(parent.get(), name, kFolderFlags);
    if (current < 0) return ErrnoFailure("cannot open folder " + components[i], errno);
  }
  fd = current;
  return Status::Ok();
}

}  // namespace

Status CreateFileBelow(const std::string& base, const std::vector<std::string>& components, intptr_t& handle) {
  int parentFd = -1;
  Status status = OpenFolder(base, components, false, components.size() - 1, parentFd);
  if (!status.ok()) return status;
  const UniqueFd parent(parentFd);
  const std::string& name = components.back();
  // Replace the entry as an entry: a link goes, its target stays. A folder
  // refuses to be unlinked, and the exclusive create below then fails.
  if (unlinkat(parent.get(), name.c_str(), 0) != 0 && errno != ENOENT && errno != EISDIR && errno != EPERM) {
    return ErrnoFailure("cannot replace " + name, errno);
  }
  const int fd = openat(parent.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) return ErrnoFailure("cannot create " + name, errno);
  handle = fd;
  return Status::Ok();
}

Status WriteToFile(intptr_t handle, std::span<const uint8_t> bytes) {
  if (!WriteAllToFd(static_cast<int>(handle), reinterpret_cast<const char*>(bytes.data()), bytes.size())) {
    return ErrnoFailure("cannot write", errno);
  }
  return Status::Ok();
}

Status CloseFile(intptr_t handle) {
  if (close(static_cast<int>(handle)) != 0) return ErrnoFailure("cannot close", errno);
  return Status::Ok();
}

Status CreateFoldersBelow(const std::string& base, const std::vector<std::string>& components) {
  int fd = -1;
  Status status = OpenFolder(base, components, true, components.size(), fd);
  if (status.ok()) close(fd);
  return status;
}

}  // namespace vorneth::native
