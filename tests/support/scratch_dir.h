// A fresh folder under the test temporary folder, removed with everything in
// it at the end (by the standard library, not by the code under test), also
// when the test fails. Every test takes its temporary folders from here.
//
// Works on every platform the tests build for: the name is random and the
// folder is made with std::filesystem, which refuses an existing one, so two
// tests running side by side never share a folder. One object is used from
// one thread at a time.
#ifndef VORNETH_TESTS_SUPPORT_SCRATCH_DIR_H_
#define VORNETH_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace vorneth::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device entropy;
    std::mt19937_64 random((static_cast<uint64_t>(entropy()) << 32) ^ entropy());
    const std::filesystem::path base = ::testing::TempDir();
    // A clash with an existing folder is astronomically unlikely; a few
    // tries cover it, and a base folder that cannot be written ends the
    // loop as well.
    for (int attempt = 0; attempt < 16 && m_path.empty(); ++attempt) {
      const std::filesystem::path candidate = base / ("vorneth_" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error) && !error) m_path = candidate.string();
    }
  }
  ~ScratchDir() {
    std::error_code error;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Empty when the folder could not be made.
  const std::string& path() const { return m_path; }
  // `name` inside the folder, joined with the platform's separator.
  std::string operator/(const std::string& name) const { return (std::filesystem::path(m_path) / name).string(); }

  // The names directly inside, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string m_path;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_SCRATCH_DIR_H_
