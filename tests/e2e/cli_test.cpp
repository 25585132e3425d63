// vorneth-cli run as a real process, on either platform: this build's
// client driving this build's host, or, when VORNETH_WINDOWS_CLI names a
// Windows vorneth-cli.exe, that client run through the launcher of
// VORNETH_HOST_LAUNCHER (wine) driving the Windows host named by
// VORNETH_HOST_UNDER_TEST. One fixture hides what differs: the launcher,
// the form of paths handed to the client (the emulator shows this machine's
// root as Z:), the line end of the client's output and the stand-in hosts
// (shell scripts here, batch files there). A few cases check behaviour only
// a shell script can stage and run for this build's client alone.
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

#include "common/child_process.h"
#include "host_process.h"
#include "json/json_conversions.h"
#include "support/scratch_dir.h"

#ifndef VORNETH_CLI_PATH
#define VORNETH_CLI_PATH ""
#endif

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kGenerous{60000};

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

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* windowsCli = getenv("VORNETH_WINDOWS_CLI");
    m_windows = windowsCli != nullptr && *windowsCli != '\0';
    if (m_windows) {
      m_launcher = HostLauncher();
      if (m_launcher.empty() || HostUnderTestPath().empty()) GTEST_SKIP() << "no launcher or no Windows host";
      m_cli = windowsCli;
    } else {
      m_cli = VORNETH_CLI_PATH;
    }
    // A blank in the folder's name: every path below must survive the
    // command line.
    ASSERT_FALSE(m_scratch.path().empty());
    m_folder = fs::path(m_scratch.path()) / "cli folder";
    fs::create_directories(m_folder);
  }

  struct Result {
    std::optional<int> status;
    std::string out;
    std::string err;
  };

  // A path as the client sees it.
  std::string ClientPath(const fs::path& path) const {
    if (!m_windows) return path.string();
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  // The client ends each answer with the platform's line end.
  std::string Line(const std::string& text) const { return text + (m_windows ? "\r\n" : "\n"); }

  std::string HostVersionLine(const std::string& callbackId = "1", const std::string& portId = "1") const {
    return Line("{\"callbackId\":\"" + callbackId + "\",\"instanceId\":0,\"portId\":\"" + portId +
                "\",\"response\":\"2.15.0.0\",\"rtype\":\"Vorneth-I\"}");
  }

  std::string VersionLine(const std::string& callbackId, const std::string& portId, const std::string& version) const {
    return Line("{\"callbackId\":\"" + callbackId + "\",\"instanceId\":0,\"portId\":\"" + portId +
                "\",\"response\":[\"0x020F0000\", \"" + version + "\"],\"rtype\":\"Vorneth\"}");
  }

  // Starts `cli` (default: the one under test) with `arguments`; its
  // standard error goes to a file, and the hosts it starts keep their data
  // in the scratch folder.
  bool StartCli(ChildProcess& child, const std::vector<std::string>& arguments, const fs::path& cli = {}) {
    ChildProcessOptions options;
    options.command = m_launcher;
    options.command.push_back(cli.empty() ? m_cli.string() : cli.string());
    options.command.insert(options.command.end(), arguments.begin(), arguments.end());
    options.environment.emplace_back("XDG_DATA_HOME", m_folder.string());
    // UTF-8 arguments reach the Windows side intact only from a UTF-8 locale.
    if (m_windows)
      options.environment.insert(options.environment.end(), {{"LC_ALL", "C.UTF-8"}, {"WINEDEBUG", "-all"}});
    options.stderr_path = (m_folder / "stderr.txt").string();
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
    err << std::ifstream(m_folder / "stderr.txt").rdbuf();
    result.err = err.str();
    fs::remove(m_folder / "stderr.txt");
    return result;
  }

  // Runs the client to its end with `input` on its standard input.
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

  // The client's options for the host under test.
  std::vector<std::string> RealHost() const {
    std::vector<std::string> arguments;
    if (!m_windows) {
      for (const std::string& word : HostLauncher()) arguments.insert(arguments.end(), {"--launcher", word});
    }
    arguments.insert(arguments.end(), {"--host", ClientPath(HostUnderTestPath())});
    return arguments;
  }

  // The client's options for a stand-in host running `lines`: a shell
  // script here, a batch file run by the command interpreter for Windows.
  std::vector<std::string> StandInHost(const std::string& lines) const {
    if (!m_windows) {
      const fs::path path = m_folder / "stand-in host.sh";
      std::ofstream(path) << lines;
      return {"--launcher", "/bin/sh", "--host", path.string()};
    }
    const fs::path path = m_folder / "host.bat";
    std::ofstream(path, std::ios::binary) << "@echo off\r\n" << lines;
    return {"--launcher", "cmd", "--launcher", "/d", "--launcher", "/c", "--host", ClientPath(path)};
  }

  // A stand-in host that starts a child of its own, a copy of a program that
  // runs for two minutes at a path holding `marker`, and never answers.
  std::vector<std::string> HostWithAStuckChild(std::string& marker) const {
    if (!m_windows) {
      const fs::path sleeper = m_folder / "sleeper";
      fs::copy_file("/bin/sleep", sleeper);
      marker = sleeper.string();
      return StandInHost("'" + sleeper.string() + "' 120\n");
    }
    const std::string sleeper = ClientPath(m_folder / "sleeper.exe");
    marker = "cli folder\\sleeper.exe";
    return StandInHost("copy /y \"%SystemRoot%\\system32\\ping.exe\" \"" + sleeper + "\" >nul\r\n\"" + sleeper +
                       "\" -n 120 127.0.0.1 >nul\r\n");
  }

  std::string StandInExit(int status) const {
    return m_windows ? "exit /b " + std::to_string(status) + "\r\n" : "exit " + std::to_string(status) + "\n";
  }

  bool m_windows = false;
  std::vector<std::string> m_launcher;
  fs::path m_cli;
  ScratchDir m_scratch;
  fs::path m_folder;
};

TEST_F(CliTest, SessionFromArgumentsPrintsEachAnswerAsOneLine) {
  // A version beyond ASCII: the client must take its arguments as UTF-8,
  // not in the narrow code page.
  const std::string version = "1.0-\xC3\xA9\xE2\x82\xAC";
  std::vector<std::string> arguments = RealHost();
  arguments.insert(arguments.end(),
                   {Create("https://a.example", version, "1"), HostCommand("GetHostVersion", "[]", "1", "1"),
                    PageCommand("GetVersion", "[]", "2", "1")});
  const Result result = RunCli(arguments);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, HostVersionLine() + VersionLine("2", "1", version));
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, DefaultHostIsBesideTheClientInAFolderWithBlanks) {
  const fs::path beside = m_folder / "client and host";
  fs::create_directories(beside);
  const fs::path host = HostUnderTestPath();
  fs::copy_file(m_cli, beside / m_cli.filename());
  fs::copy_file(host, beside / (m_windows ? "vorneth-host.exe" : "vorneth-host"));
  const Result result = RunCli({Create("https://a.example", "1.0", "1"), HostCommand("GetHostVersion", "[]", "1", "1")},
                               "", beside / m_cli.filename());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, HostVersionLine());
}

TEST_F(CliTest, RequestsFromStandardInputSkipBlankLinesAndCarriageReturns) {
  const std::string input = Create("https://a.example", "1.0", "1") + "\r\n\n   \n" +
                            HostCommand("GetHostVersion", "[]", "1", "1") + "\r\n" +
                            HostCommand("GetHostVersion", "[]", "2", "9");  // no final line feed
  const Result result = RunCli(RealHost(), input);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, HostVersionLine() + HostVersionLine("2", "9"));
}

TEST_F(CliTest, RequestsFromStandardInputLargerThanAPipeBuffer) {
  // 300 kB each way: the client's writes wait for the host to read, and its
  // reads gather an answer that arrives in many pieces.
  const std::string version(300000, 'v');
  const std::string input = Create("https://a.example", version, "1") + "\r\n\r\n" +
                            HostCommand("GetHostVersion", "[]", "1", "1") + "\r\n" +
                            PageCommand("GetVersion", "[]", "2", "1") + "\r\n";
  const Result result = RunCli(RealHost(), input);
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.out.rfind(HostVersionLine(), 0), 0u) << result.out.substr(0, 200);
  const std::string second = result.out.substr(HostVersionLine().size());
  // An array this long is written in the long form, without blanks.
  EXPECT_TRUE(second == Line(R"({"callbackId":"2","instanceId":0,"portId":"1","response":["0x020F0000",")" + version +
                             R"("],"rtype":"Vorneth"})"))
      << second.substr(0, 200);
}

TEST_F(CliTest, AnswersArePrintedWhileInputIsStillOpen) {
  // A person typing: the page command's answer must show up before the
  // client's standard input ends.
  ChildProcess cli;
  ASSERT_TRUE(StartCli(cli, RealHost())) << cli.error();
  ASSERT_TRUE(
      cli.Write(Create("https://a.example", "2.5", "p") + "\n" + PageCommand("GetVersion", "[]", "7", "p") + "\n"));
  std::string out;
  const auto deadline = Clock::now() + kGenerous;
  while (out.find('\n') == std::string::npos && Clock::now() < deadline) {
    if (cli.Read(out, milliseconds(100)) == ReadStatus::kEndOfStream) break;
  }
  EXPECT_EQ(out, VersionLine("7", "p", "2.5"));
  EXPECT_TRUE(cli.running());
  cli.CloseInput();
  EXPECT_EQ(cli.Wait(kGenerous), 0);
}

TEST_F(CliTest, HostThatCannotStartGivesStatus125) {
  const Result missing = RunCli({"--host", ClientPath(m_folder / "no-such-host.exe"), "{}"});
  EXPECT_EQ(missing.status, 125);
  EXPECT_NE(missing.err.find("cannot start the host"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");

  const Result notInPath = RunCli({"--host", "no-such-host-anywhere", "{}"});
  EXPECT_EQ(notInPath.status, 125);
  EXPECT_NE(notInPath.err.find("cannot start the host"), std::string::npos) << notInPath.err;
}

TEST_F(CliTest, HostStatusPassesThroughAndAStuckHostIsKilledWithItsChildren) {
  const Result three = RunCli(StandInHost(StandInExit(3)), "{}\n");
  EXPECT_EQ(three.status, 3) << three.err;
  EXPECT_NE(three.err.find("status 3"), std::string::npos) << three.err;

  // The stand-in host starts a child of its own that sleeps, and never
  // answers: the client gives up on it and must end both.
  std::string marker;
  std::vector<std::string> arguments = HostWithAStuckChild(marker);
  arguments.insert(arguments.end(), {"--timeout-ms", "8000", "{}"});
  ChildProcess cli;
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

TEST_F(CliTest, UsageErrorsAndHelp) {
  const Result unknown = RunCli({"--frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos) << unknown.err;

  const Result badWait = RunCli({"--wait-ms", "soon", "{}"});
  EXPECT_EQ(badWait.status, 2);

  const Result help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vorneth-cli", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--wait-ms"), std::string::npos);
  EXPECT_NE(help.out.find("--host"), std::string::npos);
  for (const char* option : {"--create URL", "--pretty", "--raw"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }

  const Result noUrl = RunCli({"--create"});
  EXPECT_EQ(noUrl.status, 2);
  EXPECT_NE(noUrl.err.find("--create needs a value"), std::string::npos) << noUrl.err;
}

TEST_F(CliTest, RequestThatIsNotJsonIsRefusedWithItsNumberAndTheParsersMessage) {
  // Among the arguments: refused before the host gets anything, so the
  // valid requests before it are not answered either.
  std::vector<std::string> arguments = RealHost();
  arguments.insert(arguments.end(), {Create("https://a.example", "1.0", "1"),
                                     HostCommand("GetHostVersion", "[]", "1", "1"), "{\"command\": Create}"});
  const Result fromArguments = RunCli(arguments);
  EXPECT_EQ(fromArguments.status, 2);
  EXPECT_EQ(fromArguments.out, "");
  EXPECT_NE(fromArguments.err.find("request 3 is not JSON: Line 1, Column 13"), std::string::npos) << fromArguments.err;
  EXPECT_NE(fromArguments.err.find("--raw"), std::string::npos) << fromArguments.err;

  // On standard input: what came before it is sent and answered, nothing
  // after it.
  const std::string input = Create("https://a.example", "1.0", "1") + "\n\n" +
                            HostCommand("GetHostVersion", "[]", "1", "1") + "\n" + "[1, 2,]\n" +
                            HostCommand("GetHostVersion", "[]", "2", "1") + "\n";
  const Result fromInput = RunCli(RealHost(), input);
  EXPECT_EQ(fromInput.status, 2);
  EXPECT_EQ(fromInput.out, HostVersionLine());
  EXPECT_NE(fromInput.err.find("request 3 is not JSON: Line 1"), std::string::npos) << fromInput.err;
}

TEST_F(CliTest, RawSendsBytesThatAreNotJsonAsTheyAre) {
  std::vector<std::string> arguments = RealHost();
  arguments.insert(arguments.end(), {"--raw", Create("https://a.example", "1.0", "1"), "not JSON at all",
                                     HostCommand("GetHostVersion", "[]", "1", "1")});
  const Result result = RunCli(arguments);
  EXPECT_EQ(result.status, 0) << result.err;
  // The host ignores the request it cannot read and answers the next.
  EXPECT_EQ(result.out, HostVersionLine());
}

TEST_F(CliTest, CreateOptionMakesThePageFirst) {
  std::vector<std::string> arguments = RealHost();
  arguments.insert(arguments.end(),
                   {"--create", "https://a.example/page?q=\"1\"", HostCommand("GetHostVersion", "[]", "1", "1"),
                    PageCommand("GetVersion", "[]", "2", "1")});
  const Result result = RunCli(arguments);
  EXPECT_EQ(result.status, 0) << result.err;
  // The page command's answer carries the version of the "Create" sent.
  EXPECT_EQ(result.out, HostVersionLine() + VersionLine("2", "1", "1.0"));

  // Without it the host answers nothing.
  arguments = RealHost();
  arguments.push_back(HostCommand("GetHostVersion", "[]", "1", "1"));
  EXPECT_EQ(RunCli(arguments).out, "");
}

TEST_F(CliTest, PrettyPrintsEachFrameIndented) {
  std::vector<std::string> arguments = RealHost();
  arguments.insert(arguments.end(),
                   {"--pretty", "--create", "https://a.example", HostCommand("GetHostVersion", "[]", "1", "1"),
                    PageCommand("GetVersion", "[]", "2", "1")});
  const Result result = RunCli(arguments);
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string expected =
      Line("{") + Line("  \"callbackId\" : \"1\",") + Line("  \"instanceId\" : 0,") + Line("  \"portId\" : \"1\",") +
      Line("  \"response\" : \"2.15.0.0\",") + Line("  \"rtype\" : \"Vorneth-I\"") + Line("}") + Line("") + Line("{") +
      Line("  \"callbackId\" : \"2\",") + Line("  \"instanceId\" : 0,") + Line("  \"portId\" : \"1\",") +
      Line("  \"response\" : ") + Line("  [") + Line("    \"0x020F0000\",") + Line("    \"1.0\"") + Line("  ],") +
      Line("  \"rtype\" : \"Vorneth\"") + Line("}") + Line("");
  EXPECT_EQ(result.out, expected);
}

// Stand-in hosts that send exact bytes: staged with a POSIX shell, so they
// run for this build's client only.
TEST_F(CliTest, FramesAreExactlyTheRequestsAndTheHostGetsOneArgument) {
  if (m_windows) GTEST_SKIP() << "needs a POSIX shell as the stand-in host";
  // The stand-in answers only when it received one argument and exactly
  // the frame of "{}" (02 00 00 00 7B 7D), and exits with status 3.
  std::vector<std::string> arguments = StandInHost(
      "[ \"$#\" = 1 ] || exit 9\n"
      "got=$(od -An -tx1 | tr -d ' \\n')\n"
      "[ \"$got\" = 020000007b7d ] || { echo \"got $got\" >&2; exit 8; }\n"
      "printf '\\004\\000\\000\\000[42]\\000\\000\\000\\000'\n"
      "exit 3\n");
  arguments.push_back("{}");
  const Result result = RunCli(arguments);
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_EQ(result.out, "[42]\n\n");  // an empty frame prints an empty line
  EXPECT_NE(result.err.find("status 3"), std::string::npos) << result.err;
}

TEST_F(CliTest, BrokenFramesGiveStatus126AndAMessage) {
  if (m_windows) GTEST_SKIP() << "needs a POSIX shell as the stand-in host";
  std::vector<std::string> arguments =
      StandInHost("cat >/dev/null; printf '\\001\\000\\000\\000x\\005\\000\\000\\000ab'\n");
  arguments.push_back("{}");
  const Result truncated = RunCli(arguments);
  EXPECT_EQ(truncated.status, 126);
  EXPECT_EQ(truncated.out, "x\n");
  EXPECT_NE(truncated.err.find("2 of 5 bytes"), std::string::npos) << truncated.err;

  arguments = StandInHost("cat >/dev/null; printf '\\001\\000'\n");
  arguments.push_back("{}");
  const Result headerCut = RunCli(arguments);
  EXPECT_EQ(headerCut.status, 126);
  EXPECT_NE(headerCut.err.find("length bytes"), std::string::npos) << headerCut.err;
}

}  // namespace
}  // namespace vorneth::testing
