// Test support for the store: a fixture that gives each test a store folder
// of its own (a scratch folder), and helpers to look at the store file
// directly.
#ifndef VORNETH_TESTS_STORE_STORE_TEST_SUPPORT_H_
#define VORNETH_TESTS_STORE_STORE_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <json/value.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "store/addon_records.h"
#include "store/domain_permissions.h"
#include "store/store_folder.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {

// Two page origins for the store tests.
inline constexpr char kA[] = "https://a.example";
inline constexpr char kB[] = "https://b.example";

// The store lives in "<scratch>/vorneth.db"; the scratch folder goes with
// everything in it when the test ends.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(m_scratch.path().empty()); }

  const store::StoreFolder& Folder() const { return m_folder; }
  std::string StorePath() const { return m_scratch / "vorneth.db"; }
  std::string LockPath() const { return m_scratch / "vorneth.db.lock"; }
  std::string DamagedPath() const { return m_scratch / "vorneth.db.damaged"; }
  const ScratchDir& Scratch() const { return m_scratch; }

  // The store file's bytes, or nothing when there is no file.
  std::optional<std::string> StoreBytes() const { return BytesOf(StorePath()); }

  static std::optional<std::string> BytesOf(const std::string& path) {
    if (!std::filesystem::is_regular_file(path)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // Puts `bytes` into the store file as a hand-edited file would be.
  void PutStoreBytes(const std::string& bytes) const {
    std::ofstream file(StorePath(), std::ios::binary | std::ios::trunc);
    file << bytes;
    ASSERT_TRUE(file.good());
  }

 private:
  ScratchDir m_scratch;
  store::StoreFolder m_folder{m_scratch.path()};
};

// Runs `body` in a forked child, which ends with its result; the parent gets
// the child's id (or -1). The test process is single-threaded here.
inline pid_t Spawn(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  int code = 100;
  try {
    code = body();
  } catch (...) {
  }
  _exit(code);
}

// The child's exit code; -1 when it did not exit normally within `timeout`
// (it is then killed and reaped).
inline int ExitCode(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Checks that a store change succeeded, and says why when it did not.
#define EXPECT_OK(expression)                       \
  do {                                              \
    const ::vorneth::Status status_ = (expression); \
    EXPECT_TRUE(status_.ok()) << status_.why();     \
  } while (false)

inline Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(ParseJson(text, value)) << text;
  return value;
}

inline std::string Compact(const Json::Value& value) {
  return StyledWriter().write(value);
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_STORE_STORE_TEST_SUPPORT_H_
