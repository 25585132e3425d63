// The Windows vorneth-cli.exe run from this machine through the launcher of
// VORNETH_HOST_LAUNCHER (wine), driving the Windows host named by
// VORNETH_HOST_UNDER_TEST. Runs when VORNETH_WINDOWS_CLI names the client;
// skips otherwise. Paths handed to the Windows programs are in their form:
// the emulator shows this machine's root as Z:.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "json/json_conversions.h"
#include "host_process.h"
#include "platform/child_process.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kGenerous{60000};
constexpr char kHostVersionLine[] =
    "{\"callbackId\":\"1\",\"instanceId\":0,\"portId\":\"1\",\"response\":\"2.15.0.0\",\"rtype\":\"Vorneth-I\"}\r\n";

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

// The answer to GetVersion (callback "2") after a Create with `version`.
std::string VersionLine(const std::string& version) {
  return "{\"callbackId\":\"2\",\"instanceId\":0,\"portId\":\"1\",\"response\":[\"0x020F0000\", \"" + version +
         "\"],\"rtype\":\"Vorneth\"}\r\n";
}

// The live processes (zombies do not count) whose command line holds
// `marker`. The emulator gives each Windows process its Windows command line.
int LiveProcessesWith(const std::string& marker) {
  int count = 0;
  std::error_code error;
  for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
    const std::string pid = entry->path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream cmdline(entry->path() / "cmdline", std::ios::binary);
    std::stringstream text;
    text << cmdline.rdbuf();
    if (text.str().find(marker) == std::string::npos) continue;
    std::ifstream stat(entry->path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z') continue;
    ++count;
  }
  return count;
}

class WindowsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* cli = getenv("VORNETH_WINDOWS_CLI");
    if (cli == nullptr || *cli == '\0') GTEST_SKIP() << "no Windows vorneth-cli.exe to test";
    launcher_ = HostLauncher();
    if (launcher_.empty() || HostUnderTestPath().empty()) GTEST_SKIP() << "no launcher or no Windows host";
    cli_ = cli;
    // A blank in the folder's name: every path below must survive the
    // Windows command line.
    char pattern[] = "/tmp/vorneth wincli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  struct Result {
    std::optional<int> status;
    std::string out;
    std::string err;
  };

  // Starts `cli` (default: the one under test) with `arguments` under the
  // launcher, standard error to a file.
  bool StartCli(ChildProcess& child, const std::vector<std::string>& arguments, const fs::path& cli = {}) {
    ChildProcessOptions options;
    options.command = launcher_;
    options.command.push_back(cli.empty() ? cli_.string() : cli.string());
    options.command.insert(options.command.end(), arguments.begin(), arguments.end());
    // UTF-8 arguments reach the Windows side intact only from a UTF-8 locale.
    options.environment = {{"LC_ALL", "C.UTF-8"}, {"WINEDEBUG", "-all"}};
    options.stderr_path = (folder_ / "stderr.txt").string();
    return child.Start(options);
  }

  Result Finish(ChildProcess& child) {
    Result result;
    const auto deadline = Clock::now() + kGenerous;
    while (Clock::now() < deadline) {
      const ReadStatus status = child.Read(result.out, milliseconds(100));
      if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
    }
    result.status = child.Wait(kGenerous);
    std::stringstream err;
    err << std::ifstream(folder_ / "stderr.txt").rdbuf();
    result.err = err.str();
    fs::remove(folder_ / "stderr.txt");
    return result;
  }

  Result RunCli(const std::vector<std::string>& arguments, const std::string& input = "", const fs::path& cli = {}) {
    ChildProcess child;
    if (!StartCli(child, arguments, cli)) {
      ADD_FAILURE() << child.error();
      return {};
    }
    if (!input.empty()) {
      EXPECT_TRUE(child.Write(input, kGenerous)) << child.error();
    }
    child.CloseInput();
    return Finish(child);
  }

  // The client's options for a stand-in host: a batch file run by the
  // command interpreter, found through PATH.
  std::vector<std::string> BatchHost(const std::string& lines) {
    const fs::path path = folder_ / "host.bat";
    std::ofstream(path, std::ios::binary) << "@echo off\r\n" << lines;
    return {"--launcher", "cmd", "--launcher", "/d", "--launcher", "/c", "--host", WindowsPath(path)};
  }

  std::vector<std::string> launcher_;
  fs::path cli_;
  fs::path folder_;
};

TEST_F(WindowsCliTest, SessionFromArgumentsPrintsEachAnswerAsOneLine) {
  // A version beyond ASCII: the client must take its arguments as UTF-8,
  // not in the narrow code page.
  const std::string version = "1.0-\xC3\xA9\xE2\x82\xAC";
  const Result result = RunCli({"--host", WindowsPath(HostUnderTestPath()), Create("https://a.example", version, "1"),
                                HostCommand("GetHostVersion", "[]", "1", "1"), PageCommand("GetVersion", "[]", "2", "1")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kHostVersionLine + VersionLine(version));
  EXPECT_EQ(result.err, "");
}

TEST_F(WindowsCliTest, DefaultHostIsBesideTheClientInAFolderWithBlanks) {
  const fs::path beside = folder_ / "client and host";
  fs::create_directories(beside);
  fs::copy_file(cli_, beside / "vorneth-cli.exe");
  fs::copy_file(HostUnderTestPath(), beside / "vorneth-host.exe");
  const Result result =
      RunCli({Create("https://a.example", "1.0", "1"), HostCommand("GetHostVersion", "[]", "1", "1")}, "",
             beside / "vorneth-cli.exe");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kHostVersionLine);
}

TEST_F(WindowsCliTest, RequestsFromStandardInputLargerThanAPipeBuffer) {
  // 300 kB each way: the client's writes wait for the host to read, and its
  // reads gather an answer that arrives in many pieces.
  const std::string version(300000, 'v');
  const std::string input = Create("https://a.example", version, "1") + "\r\n\r\n" +
                            HostCommand("GetHostVersion", "[]", "1", "1") + "\r\n" +
                            PageCommand("GetVersion", "[]", "2", "1") + "\r\n";
  const Result result = RunCli({"--host", WindowsPath(HostUnderTestPath())}, input);
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.out.rfind(kHostVersionLine, 0), 0u) << result.out.substr(0, 200);
  const std::string second = result.out.substr(std::string(kHostVersionLine).size());
  ASSERT_GT(second.size(), 2u);
  EXPECT_EQ(second.find("\r\n"), second.size() - 2) << "one more line, and only one";
  Json::Value answer;
  ASSERT_TRUE(ParseJson(second, answer)) << second.substr(0, 200);
  std::string echoed;
  EXPECT_TRUE(ReadText(Element(Member(answer, "response"), 1), echoed));
  EXPECT_TRUE(echoed == version) << echoed.size() << " bytes came back";
  EXPECT_EQ(Member(answer, "callbackId"), "2");
}

TEST_F(WindowsCliTest, HostThatCannotStartGivesStatus125) {
  const Result missing = RunCli({"--host", WindowsPath(folder_ / "no-such-host.exe"), "{}"});
  EXPECT_EQ(missing.status, 125);
  EXPECT_NE(missing.err.find("cannot start the host"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");

  const Result not_in_path = RunCli({"--host", "no-such-host-anywhere", "{}"});
  EXPECT_EQ(not_in_path.status, 125);
  EXPECT_NE(not_in_path.err.find("not found in PATH"), std::string::npos) << not_in_path.err;
}

TEST_F(WindowsCliTest, HostStatusPassesThroughAndAStuckHostIsKilledWithItsChildren) {
  const Result three = RunCli(BatchHost("exit /b 3\r\n"), "{}\n");
  EXPECT_EQ(three.status, 3) << three.err;
  EXPECT_NE(three.err.find("status 3"), std::string::npos) << three.err;

  // The batch host starts a child of its own that sleeps, and never
  // answers: the client gives up on it and must end both.
  const std::string sleeper = WindowsPath(folder_ / "sleeper.exe");
  const std::string marker = folder_.filename().string() + "\\sleeper.exe";
  ChildProcess cli;
  std::vector<std::string> arguments = BatchHost("copy /y \"%SystemRoot%\\system32\\ping.exe\" \"" + sleeper +
                                                 "\" >nul\r\n\"" + sleeper + "\" -n 120 127.0.0.1 >nul\r\n");
  arguments.insert(arguments.end(), {"--timeout-ms", "8000", "{}"});
  ASSERT_TRUE(StartCli(cli, arguments)) << cli.error();
  cli.CloseInput();
  bool seen = false;
  for (int i = 0; i < 400 && !seen && cli.Wait(milliseconds(50)) == std::nullopt; ++i) {
    seen = LiveProcessesWith(marker) > 0;
  }
  ASSERT_TRUE(seen) << "the host's child never ran";
  const Result stuck = Finish(cli);
  EXPECT_EQ(stuck.status, 124) << stuck.err;
  EXPECT_NE(stuck.err.find("8000 ms"), std::string::npos) << stuck.err;
  int left = LiveProcessesWith(marker);
  for (int i = 0; i < 100 && left > 0; ++i) {
    std::this_thread::sleep_for(milliseconds(50));
    left = LiveProcessesWith(marker);
  }
  EXPECT_EQ(left, 0) << "the host's child outlived the host";
}

}  // namespace
}  // namespace vorneth::testing
