// vorneth-cli run as a real process: against the built host, and against
// small shell scripts that misbehave the way a broken host could.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_process.h"
#include "platform/child_process.h"

#ifndef VORNETH_CLI_PATH
#define VORNETH_CLI_PATH ""
#endif

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kGenerous{30000};
constexpr char kHostVersionLine[] =
    "{\"callbackId\":\"1\",\"instanceId\":0,\"portId\":\"1\",\"response\":\"2.15.0.0\",\"rtype\":\"Vorneth-I\"}\n";

// A scratch folder, removed at the end of the test; also the XDG_DATA_HOME
// of every host the client starts.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vorneth-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  struct Result {
    std::optional<int> status;
    std::string out;
    std::string err;
  };

  // Starts the client with `arguments`; its standard error goes to a file.
  bool StartCli(ChildProcess& cli, const std::vector<std::string>& arguments) {
    ChildProcessOptions options;
    options.command.push_back(VORNETH_CLI_PATH);
    options.command.insert(options.command.end(), arguments.begin(), arguments.end());
    options.environment.emplace_back("XDG_DATA_HOME", folder_.string());
    options.stderr_path = (folder_ / "stderr.txt").string();
    return cli.Start(options);
  }

  // Runs the client to its end with `input` on its standard input.
  Result RunCli(const std::vector<std::string>& arguments, const std::string& input = "") {
    Result result;
    ChildProcess cli;
    if (!StartCli(cli, arguments)) {
      ADD_FAILURE() << cli.error();
      return result;
    }
    if (!input.empty()) {
      EXPECT_TRUE(cli.Write(input));
    }
    cli.CloseInput();
    const auto deadline = Clock::now() + kGenerous;
    while (Clock::now() < deadline) {
      const ReadStatus status = cli.Read(result.out, milliseconds(100));
      if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
    }
    result.status = cli.Wait(kGenerous);
    std::stringstream err;
    err << std::ifstream(folder_ / "stderr.txt").rdbuf();
    result.err = err.str();
    return result;
  }

  // A stand-in host: a shell script run through the client's --launcher.
  std::vector<std::string> FakeHost(const std::string& script, std::vector<std::string> more = {}) {
    const std::filesystem::path path = folder_ / "fake-host.sh";
    std::ofstream(path) << script;
    std::vector<std::string> arguments = {"--launcher", "/bin/sh", "--host", path.string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  std::vector<std::string> RealHost() {
    std::vector<std::string> arguments;
    for (const std::string& word : HostLauncher()) {
      arguments.push_back("--launcher");
      arguments.push_back(word);
    }
    arguments.push_back("--host");
    arguments.push_back(HostUnderTestPath());
    return arguments;
  }

  std::filesystem::path folder_;
};

TEST_F(CliTest, HostVersionSessionFromArguments) {
  std::vector<std::string> arguments = RealHost();
  arguments.push_back(Create("https://a.example", "1.0", "1"));
  arguments.push_back(HostCommand("GetHostVersion", "[]", "1", "1"));
  const Result result = RunCli(arguments);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kHostVersionLine);
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, DefaultHostIsTheOneBesideTheClient) {
  const Result result =
      RunCli({Create("https://a.example", "1.0", "1"), HostCommand("GetHostVersion", "[]", "1", "1")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kHostVersionLine);
}

TEST_F(CliTest, RequestsFromStandardInputSkipBlankLinesAndCarriageReturns) {
  const std::string input = Create("https://a.example", "1.0", "1") + "\r\n\n   \n" +
                            HostCommand("GetHostVersion", "[]", "1", "1") + "\r\n" +
                            HostCommand("GetHostVersion", "[]", "2", "9");  // no final line feed
  const Result result = RunCli(RealHost(), input);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, std::string(kHostVersionLine) +
                            "{\"callbackId\":\"2\",\"instanceId\":0,\"portId\":\"9\",\"response\":\"2.15.0.0\","
                            "\"rtype\":\"Vorneth-I\"}\n");
}

TEST_F(CliTest, AnswersArePrintedWhileInputIsStillOpen) {
  // A person typing: the page command's answer must show up before the
  // client's standard input ends.
  ChildProcess cli;
  ASSERT_TRUE(StartCli(cli, RealHost())) << cli.error();
  ASSERT_TRUE(cli.Write(Create("https://a.example", "2.5", "p") + "\n" +
                        PageCommand("GetVersion", "[]", "7", "p") + "\n"));
  std::string out;
  const auto deadline = Clock::now() + kGenerous;
  while (out.find('\n') == std::string::npos && Clock::now() < deadline) {
    if (cli.Read(out, milliseconds(100)) == ReadStatus::kEndOfStream) break;
  }
  EXPECT_EQ(out,
            "{\"callbackId\":\"7\",\"instanceId\":0,\"portId\":\"p\",\"response\":[\"0x020F0000\", \"2.5\"],"
            "\"rtype\":\"Vorneth\"}\n");
  EXPECT_TRUE(cli.running());
  cli.CloseInput();
  EXPECT_EQ(cli.Wait(kGenerous), 0);
}

TEST_F(CliTest, FramesAreExactlyTheRequestsAndTheHostGetsOneArgument) {
  // The fake host answers only when it received one argument and exactly
  // the frame of "{}" (02 00 00 00 7B 7D), and exits with status 3.
  const Result result = RunCli(FakeHost(
      "[ \"$#\" = 1 ] || exit 9\n"
      "got=$(od -An -tx1 | tr -d ' \\n')\n"
      "[ \"$got\" = 020000007b7d ] || { echo \"got $got\" >&2; exit 8; }\n"
      "printf '\\004\\000\\000\\000[42]\\000\\000\\000\\000'\n"
      "exit 3\n",
      {"{}"}));
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_EQ(result.out, "[42]\n\n");  // an empty frame prints an empty line
  EXPECT_NE(result.err.find("status 3"), std::string::npos) << result.err;
}

TEST_F(CliTest, FailuresGiveTheirOwnStatusAndAMessage) {
  const Result missing = RunCli({"--host", (folder_ / "no-such-host").string(), "{}"});
  EXPECT_EQ(missing.status, 125);
  EXPECT_NE(missing.err.find("cannot start the host"), std::string::npos) << missing.err;

  const Result truncated = RunCli(FakeHost("cat >/dev/null; printf '\\001\\000\\000\\000x\\005\\000\\000\\000ab'\n", {"{}"}));
  EXPECT_EQ(truncated.status, 126);
  EXPECT_EQ(truncated.out, "x\n");
  EXPECT_NE(truncated.err.find("2 of 5 bytes"), std::string::npos) << truncated.err;

  const Result header_cut = RunCli(FakeHost("cat >/dev/null; printf '\\001\\000'\n", {"{}"}));
  EXPECT_EQ(header_cut.status, 126);
  EXPECT_NE(header_cut.err.find("length bytes"), std::string::npos) << header_cut.err;

  // A host that never answers and never ends is stopped after the time-out.
  const Result silent = RunCli(FakeHost("exec sleep 60\n", {"--timeout-ms", "300", "{}"}));
  EXPECT_EQ(silent.status, 124);
  EXPECT_NE(silent.err.find("300 ms"), std::string::npos) << silent.err;

  const Result unknown = RunCli({"--frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos) << unknown.err;

  const Result bad_wait = RunCli({"--wait-ms", "soon", "{}"});
  EXPECT_EQ(bad_wait.status, 2);
}

TEST_F(CliTest, HelpExplainsUsage) {
  const Result result = RunCli({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("Usage: vorneth-cli", 0), 0u) << result.out;
  EXPECT_NE(result.out.find("--wait-ms"), std::string::npos);
  EXPECT_NE(result.out.find("--host"), std::string::npos);
}

}  // namespace
}  // namespace vorneth::testing
