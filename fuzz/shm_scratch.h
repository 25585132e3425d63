// A scratch folder on /dev/shm for one fuzzer process: file writes there
// cost no disk, which keeps the targets that write files fast.
//
// The folder is "/dev/shm/<prefix>.<pid>", made by the first call of
// ShmScratch::Path and removed at exit. A crash does not run that removal,
// so the first call also removes the folders of that prefix whose process
// is gone, and Fail removes the folder before it aborts. Used from the
// fuzzing thread only.
#ifndef VORNETH_FUZZ_SHM_SCRATCH_H_
#define VORNETH_FUZZ_SHM_SCRATCH_H_

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace vorneth::fuzz {

class ShmScratch {
 public:
  // The folder of this process, made (empty) on the first call.
  static const std::string& Path(const std::string& prefix) {
    static const ShmScratch scratch(prefix);  // removed at exit
    return scratch.m_path;
  }
  // Removes the folder (if made), reports `what` and `detail`, aborts:
  // libFuzzer reports the abort as a crash and keeps the input.
  [[noreturn]] static void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s %s\n", what, detail.c_str());
    std::error_code error;
    if (!Made().empty()) std::filesystem::remove_all(Made(), error);
    std::abort();
  }

 private:
  explicit ShmScratch(const std::string& prefix) {
    namespace fs = std::filesystem;
    const fs::path shm("/dev/shm");
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(shm, error)) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with(prefix + ".")) continue;
      const long pid = std::strtol(name.c_str() + prefix.size() + 1, nullptr, 10);
      if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), error);
    }
    m_path = (shm / (prefix + "." + std::to_string(getpid()))).string();
    fs::remove_all(m_path, error);
    if (!fs::create_directory(m_path, error)) Fail("cannot make the scratch folder", m_path);
    Made() = m_path;
  }
  ~ShmScratch() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  static std::string& Made() {
    static std::string path;
    return path;
  }

  std::string m_path;
};

}  // namespace vorneth::fuzz

#endif  // VORNETH_FUZZ_SHM_SCRATCH_H_
