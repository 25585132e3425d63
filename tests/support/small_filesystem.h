// A small file system of its own for fault tests: a tmpfs of a given size
// mounted on a fresh scratch folder, so that a test can fill it to the last
// byte (writes then fail with "no space") or turn it read-only, without
// touching any other folder of the machine. It is unmounted (lazily, so a
// file a child process still holds open cannot keep it) and its folder
// removed when the object goes, also when the test fails.
//
// Mounting needs root (CI runs as root); elsewhere mounted() is false and
// the test skips itself with why(). Linux only. One object is used from one
// thread at a time.
#ifndef VORNETH_TESTS_SUPPORT_SMALL_FILESYSTEM_H_
#define VORNETH_TESTS_SUPPORT_SMALL_FILESYSTEM_H_

#include <sys/mount.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/scratch_dir.h"

namespace vorneth::testing {

class SmallFilesystem {
 public:
  explicit SmallFilesystem(uint64_t bytes) {
    if (m_folder.path().empty()) {
      m_why = "no scratch folder";
      return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("vorneth-test", m_folder.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      m_why = std::string("mounting a tmpfs needs root: ") + std::strerror(errno);
      return;
    }
    m_mounted = true;
  }
  ~SmallFilesystem() {
    if (m_mounted) ::umount2(m_folder.path().c_str(), MNT_DETACH);
  }
  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;

  bool mounted() const { return m_mounted; }
  const std::string& why() const { return m_why; }
  // The mount point; empty-handed tests skip before using it.
  const std::string& path() const { return m_folder.path(); }
  std::string operator/(const std::string& name) const { return m_folder / name; }

  // Remounts the file system read-only (true) or writable again (false).
  // Even root cannot write to a read-only mount, unlike to a folder whose
  // mode forbids it.
  bool SetReadOnly(bool readOnly) {
    if (!m_mounted) return false;
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    return ::mount("vorneth-test", m_folder.path().c_str(), "tmpfs", flags, nullptr) == 0;
  }

 private:
  ScratchDir m_folder;
  bool m_mounted = false;
  std::string m_why;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_SMALL_FILESYSTEM_H_
