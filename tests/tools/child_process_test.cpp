// ChildProcess against real programs: /bin/cat and /bin/sh.
#include "common/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/scratch_dir.h"

namespace vorneth {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kGenerous{10000};

ChildProcessOptions Shell(const std::string& script) {
  return {{"/bin/sh", "-c", script}, {}, {}};
}

// Everything the child writes until it closes its output, or until the
// deadline; `ended` tells which.
std::string ReadAll(ChildProcess& child, bool* ended = nullptr, milliseconds limit = kGenerous) {
  std::string out;
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    const ReadStatus status = child.Read(out, milliseconds(100));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) {
      if (ended) *ended = status == ReadStatus::kEndOfStream;
      return out;
    }
  }
  if (ended) *ended = false;
  return out;
}

// True once `pid` names no live process (gone, or a zombie waiting for a
// reaper that is not us). Polls for at most two seconds.
bool ProcessGone(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (std::getline(stat, line)) {
      const auto close = line.rfind(')');
      if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') return true;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

TEST(ChildProcessTest, CatEchoesEveryByteAndEndsWhenInputCloses) {
  ChildProcess child;
  ASSERT_TRUE(child.Start({{"/bin/cat"}, {}, {}})) << child.error();
  EXPECT_TRUE(child.running());
  std::string bytes("frame\n\0\x0a\x0d\xff end", 14);
  ASSERT_TRUE(child.Write(bytes));
  // The echo arrives while the input is still open...
  std::string out;
  const auto deadline = Clock::now() + kGenerous;
  while (out.size() < bytes.size() && Clock::now() < deadline) child.Read(out, milliseconds(100));
  EXPECT_EQ(out, bytes);
  // ...and closing the input is what ends cat.
  EXPECT_EQ(child.Read(out, milliseconds(50)), ReadStatus::kTimeout);
  child.CloseInput();
  child.CloseInput();  // twice is harmless
  bool ended = false;
  EXPECT_EQ(ReadAll(child, &ended), "");
  EXPECT_TRUE(ended);
  EXPECT_EQ(child.Wait(kGenerous), 0);
  EXPECT_FALSE(child.running());
}

TEST(ChildProcessTest, MegabyteRoundTripWhileReadingInBetween) {
  ChildProcess child;
  ASSERT_TRUE(child.Start({{"/bin/cat"}, {}, {}})) << child.error();
  std::string sent;
  for (int i = 0; sent.size() < (1u << 20); ++i) sent += std::to_string(i) + ',';
  std::string received;
  for (size_t offset = 0; offset < sent.size(); offset += 4096) {
    ASSERT_TRUE(child.Write(std::string_view(sent).substr(offset, 4096)));
    child.Read(received, milliseconds(0));
  }
  child.CloseInput();
  received += ReadAll(child);
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
}

TEST(ChildProcessTest, ExitStatusAndSignals) {
  ChildProcess seven;
  ASSERT_TRUE(seven.Start(Shell("exit 7")));
  EXPECT_EQ(seven.Wait(kGenerous), 7);
  EXPECT_EQ(seven.Wait(milliseconds(0)), 7);  // remembered
  seven.Kill();                               // harmless once reaped
  EXPECT_EQ(seven.Wait(milliseconds(0)), 7);

  ChildProcess terminated;
  ASSERT_TRUE(terminated.Start(Shell("kill -TERM $$; sleep 5")));
  EXPECT_EQ(terminated.Wait(kGenerous), 128 + SIGTERM);

  ChildProcess none;
  EXPECT_EQ(none.Wait(milliseconds(0)), std::nullopt);
  EXPECT_FALSE(none.running());
}

TEST(ChildProcessTest, ArgumentsArriveUnchanged) {
  ChildProcess child;
  ASSERT_TRUE(
      child.Start({{"/bin/sh", "-c", "printf '[%s]' \"$@\"", "sh", "a b", "", "{\"q\":\"$HOME\"}", "c"}, {}, {}}));
  EXPECT_EQ(ReadAll(child), "[a b][][{\"q\":\"$HOME\"}][c]");
  EXPECT_EQ(child.Wait(kGenerous), 0);
}

// The caller's own variables (PATH and HOME, which every test run has) are
// the ones passed on, overridden and removed: the test sets none of its own.
TEST(ChildProcessTest, EnvironmentIsSetOverriddenAndRemoved) {
  const char* path = getenv("PATH");
  const char* home = getenv("HOME");
  ASSERT_NE(path, nullptr);
  ASSERT_NE(home, nullptr);
  const std::string parentPath = path, parentHome = home;

  ChildProcessOptions options = Shell("printf '%s|%s|%s' \"$PATH\" \"$HOME\" \"$VORNETH_CHILD_NEW\"");
  options.environment = {{"HOME", "first"}, {"HOME", "child"}, {"VORNETH_CHILD_NEW", "new=value"}};
  ChildProcess child;
  ASSERT_TRUE(child.Start(options));
  EXPECT_EQ(ReadAll(child), parentPath + "|child|new=value");
  EXPECT_EQ(child.Wait(kGenerous), 0);

  options = Shell("printf '%s|%s' \"${HOME-unset}\" \"${VORNETH_CHILD_NEW-unset}\"");
  options.environment = {{"VORNETH_CHILD_NEW", "set"}, {"HOME", std::nullopt}, {"VORNETH_CHILD_NEW", std::nullopt}};
  ChildProcess removing;
  ASSERT_TRUE(removing.Start(options));
  EXPECT_EQ(ReadAll(removing), "unset|unset");
  EXPECT_EQ(removing.Wait(kGenerous), 0);
  // The caller's own environment is untouched.
  EXPECT_EQ(getenv("HOME"), parentHome);
  EXPECT_EQ(getenv("PATH"), parentPath);
}

TEST(ChildProcessTest, StandardErrorGoesToTheNamedFile) {
  testing::ScratchDir directory;
  ASSERT_FALSE(directory.path().empty());
  const std::string log = directory / "stderr.txt";
  ChildProcessOptions options = Shell("echo out; echo oops >&2");
  options.stderr_path = log;
  for (int run = 0; run < 2; ++run) {  // the file is appended to
    ChildProcess child;
    ASSERT_TRUE(child.Start(options));
    EXPECT_EQ(ReadAll(child), "out\n");
    EXPECT_EQ(child.Wait(kGenerous), 0);
  }
  std::stringstream content;
  content << std::ifstream(log).rdbuf();
  EXPECT_EQ(content.str(), "oops\noops\n");
}

TEST(ChildProcessTest, ChildStartsInTheFolderAskedFor) {
  testing::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  // A relative program path still counts from the caller's folder. The
  // child's folder lies deeper than the caller's, so the path that climbs
  // from here to /bin/sh ends inside the scratch folder from there.
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::path deep = scratch.path() + "/work dir";
  for (const auto& part : here) deep /= part.empty() || part == "/" ? "d" : part;
  const std::string folder = deep.string();
  std::filesystem::create_directories(folder);
  const std::string shell = std::filesystem::relative("/bin/sh", here).string();
  ASSERT_NE(shell.find('/'), std::string::npos);
  ChildProcessOptions options{{shell, "-c", "pwd -P"}, {}, {}};
  options.working_directory = folder;
  ChildProcess moved;
  ASSERT_TRUE(moved.Start(options)) << moved.error();
  EXPECT_EQ(ReadAll(moved), std::filesystem::canonical(folder).string() + "\n");
  EXPECT_EQ(moved.Wait(kGenerous), 0);

  options.working_directory.clear();
  ChildProcess stayed;
  ASSERT_TRUE(stayed.Start(options)) << stayed.error();
  EXPECT_EQ(ReadAll(stayed), std::filesystem::canonical(std::filesystem::current_path()).string() + "\n");
  EXPECT_EQ(stayed.Wait(kGenerous), 0);

  options.working_directory = scratch / "missing";
  ChildProcess refused;
  EXPECT_FALSE(refused.Start(options));
  EXPECT_NE(refused.error().find(options.working_directory), std::string::npos) << refused.error();
  EXPECT_FALSE(refused.running());
}

TEST(ChildProcessTest, StartFailuresAreReported) {
  ChildProcess missing;
  EXPECT_FALSE(missing.Start({{"/nonexistent/vorneth-host"}, {}, {}}));
  EXPECT_NE(missing.error().find("/nonexistent/vorneth-host"), std::string::npos) << missing.error();
  EXPECT_FALSE(missing.running());

  ChildProcess not_in_path;
  EXPECT_FALSE(not_in_path.Start({{"vorneth-no-such-program"}, {}, {}}));

  ChildProcess empty;
  EXPECT_FALSE(empty.Start({}));

  ChildProcess by_name;  // a bare name is looked up in PATH
  ASSERT_TRUE(by_name.Start({{"sh", "-c", "exit 3"}, {}, {}})) << by_name.error();
  EXPECT_EQ(by_name.Wait(kGenerous), 3);
  EXPECT_FALSE(by_name.Start({{"/bin/cat"}, {}, {}}));  // one child per object
}

TEST(ChildProcessTest, ChildStartsWithoutTheStandardStreamsAskedFor) {
  // The shell reports which of its descriptors 0 to 2 are open, without
  // opening anything on the way.
  const std::string probe =
      "for fd in 0 1 2; do if [ -e /proc/$$/fd/$fd ]; then echo open $fd >&3; else echo closed $fd >&3; fi; done";
  testing::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string report = scratch / "report";
  ChildProcessOptions options = Shell("exec 3>'" + report + "'; " + probe);
  options.closed_standard_streams = {0, 2};
  ChildProcess child;
  ASSERT_TRUE(child.Start(options)) << child.error();
  EXPECT_EQ(child.Wait(kGenerous), 0);
  std::stringstream content;
  content << std::ifstream(report).rdbuf();
  EXPECT_EQ(content.str(), "closed 0\nopen 1\nclosed 2\n");

  // Without standard output the caller reads its end at once.
  options = Shell("exec sleep 30");
  options.closed_standard_streams = {1};
  ChildProcess silent;
  ASSERT_TRUE(silent.Start(options)) << silent.error();
  std::string out;
  EXPECT_EQ(silent.Read(out, kGenerous), ReadStatus::kEndOfStream);

  ChildProcess refused;
  options.closed_standard_streams = {3};
  EXPECT_FALSE(refused.Start(options));
  EXPECT_NE(refused.error().find("0 to 2"), std::string::npos) << refused.error();
}

TEST(ChildProcessTest, TimeoutsOnASilentChild) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(Shell("exec sleep 30")));
  std::string out;
  EXPECT_EQ(child.Read(out, milliseconds(50)), ReadStatus::kTimeout);
  EXPECT_EQ(out, "");
  EXPECT_EQ(child.Wait(milliseconds(50)), std::nullopt);
  EXPECT_TRUE(child.running());
  child.Kill();
  EXPECT_FALSE(child.running());
  EXPECT_EQ(child.Wait(milliseconds(0)), 128 + SIGKILL);
}

TEST(ChildProcessTest, WritingToAChildThatStoppedReadingFailsQuietly) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(Shell("head -c 10 >/dev/null")));
  // Far more than a pipe holds: the write must fail once head is gone,
  // without a SIGPIPE ending this test.
  const std::string big(4u << 20, 'x');
  EXPECT_FALSE(child.Write(big, kGenerous));
  EXPECT_FALSE(child.error().empty());
  EXPECT_EQ(child.Wait(kGenerous), 0);
  EXPECT_FALSE(child.Write("more"));

  ChildProcess closed;
  ASSERT_TRUE(closed.Start({{"/bin/cat"}, {}, {}}));
  closed.CloseInput();
  EXPECT_FALSE(closed.Write("after close"));
}

TEST(ChildProcessTest, ClosingInputIsSeenAsEndOfInput) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(Shell("n=$(wc -c); echo \"got $n\"")));
  ASSERT_TRUE(child.Write("12345"));
  std::string out;
  EXPECT_EQ(child.Read(out, milliseconds(100)), ReadStatus::kTimeout);
  child.CloseInput();
  EXPECT_EQ(ReadAll(child), "got 5\n");
  EXPECT_EQ(child.Wait(kGenerous), 0);
}

TEST(ChildProcessTest, SiblingsDoNotHoldEachOthersPipes) {
  // If the second child inherited the first one's input pipe, the first
  // would never see the end of its input.
  ChildProcess first;
  ASSERT_TRUE(first.Start({{"/bin/cat"}, {}, {}}));
  ChildProcess second;
  ASSERT_TRUE(second.Start({{"/bin/cat"}, {}, {}}));
  first.CloseInput();
  bool ended = false;
  ReadAll(first, &ended, milliseconds(3000));
  EXPECT_TRUE(ended);
  EXPECT_EQ(first.Wait(kGenerous), 0);
  EXPECT_TRUE(second.running());
}

TEST(ChildProcessTest, DestructionKillsTheChildAndItsChildren) {
  pid_t child_pid = 0;
  pid_t grandchild_pid = 0;
  {
    ChildProcess child;
    ASSERT_TRUE(child.Start(Shell("sleep 30 & echo $$ $!; wait")));
    std::string out;
    const auto deadline = Clock::now() + kGenerous;
    while (out.find('\n') == std::string::npos && Clock::now() < deadline) child.Read(out, milliseconds(100));
    std::istringstream pids(out);
    pids >> child_pid >> grandchild_pid;
    ASSERT_GT(child_pid, 0) << out;
    ASSERT_GT(grandchild_pid, 0) << out;
    EXPECT_EQ(kill(child_pid, 0), 0);
  }
  EXPECT_TRUE(ProcessGone(child_pid));
  EXPECT_TRUE(ProcessGone(grandchild_pid));
}

TEST(ChildProcessTest, MovedObjectKeepsControlOfTheChild) {
  ChildProcess original;
  ASSERT_TRUE(original.Start({{"/bin/cat"}, {}, {}}));
  ChildProcess moved(std::move(original));
  EXPECT_TRUE(moved.running());
  ASSERT_TRUE(moved.Write("ping"));
  std::string out;
  const auto deadline = Clock::now() + kGenerous;
  while (out.size() < 4 && Clock::now() < deadline) moved.Read(out, milliseconds(100));
  EXPECT_EQ(out, "ping");
  moved.CloseInput();
  EXPECT_EQ(moved.Wait(kGenerous), 0);
}

}  // namespace
}  // namespace vorneth
