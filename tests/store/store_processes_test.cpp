// Several processes sharing one store file, as the hosts of several browser
// ports do: no change is lost, a lock held elsewhere is waited for (a
// bounded time: a peer that hangs holding it makes changes fail, not wait
// for ever), and a writer killed at any moment leaves a complete document
// behind.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_reader_writer.h"
#include "store_test_support.h"

namespace vorneth::testing {
namespace {

using namespace std::chrono_literals;

// Exit codes of the children.
constexpr int kChildDone = 0;
constexpr int kChildChangeFailed = 1;
constexpr int kChildNoLock = 2;
constexpr int kChildCannotSignal = 3;
constexpr int kChildCannotWrite = 4;
constexpr int kChildCannotRead = 5;

std::string Origin(int process, int change) {
  return "https://p" + std::to_string(process) + "-" + std::to_string(change) + ".example";
}

using StoreProcessesTest = StoreTest;

TEST_F(StoreProcessesTest, ConcurrentProcessesLoseNoChange) {
  constexpr int kProcesses = 4;
  constexpr int kChanges = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = Spawn([this, p] {
      for (int i = 0; i < kChanges; ++i) {
        if (!store::SetDomainDenied(Folder(), Origin(p, i)).ok()) return kChildChangeFailed;
      }
      return kChildDone;
    });
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) EXPECT_EQ(ExitCode(pid, 30s), kChildDone);

  std::map<std::string, int> counts;
  for (const Json::Value& entry : store::ReadPermList(Folder())) ++counts[entry.asString()];
  EXPECT_EQ(counts.size(), static_cast<size_t>(kProcesses * kChanges));
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kChanges; ++i) EXPECT_EQ(counts[Origin(p, i)], 1) << Origin(p, i);
  }
}

TEST_F(StoreProcessesTest, AChangeWaitsForALockHeldByAnotherProcess) {
  EXPECT_OK(store::SetDomainDenied(Folder(), "https://first.example"));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // The child reads the store under the lock, lets the parent start its own
  // change, and only then writes: without the lock the parent's change would
  // land in between and be overwritten.
  const pid_t pid = Spawn([&] {
    close(ready[0]);
    FileLock lock(LockPath(), store::kStoreLockWait);
    if (!lock.locked()) return kChildNoLock;
    std::string text;
    if (FileReaderWriter::ReadFile(StorePath(), text) != FileRead::kRead) return kChildCannotRead;
    Json::Value document = Parse(text);
    if (write(ready[1], "x", 1) != 1) return kChildCannotSignal;
    std::this_thread::sleep_for(300ms);
    document["blacklisted"].append("https://child.example");
    return FileReaderWriter::WriteFileAtomically(StorePath(), Compact(document)).ok() ? kChildDone : kChildCannotWrite;
  });
  ASSERT_GT(pid, 0);
  close(ready[1]);
  pollfd waiting{ready[0], POLLIN, 0};
  char byte = 0;
  const bool childReady = poll(&waiting, 1, 10000) == 1 && read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  EXPECT_TRUE(childReady);
  // A read takes no file lock (the store is only ever replaced whole), so it
  // does not wait for the child.
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), "https://first.example"));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the read waited for the lock held by the child";
  EXPECT_OK(store::SetDomainDenied(Folder(), "https://parent.example"));
  EXPECT_EQ(ExitCode(pid, 10s), kChildDone);
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://first.example","https://child.example",)"
                          R"("https://parent.example"]})");
}

TEST_F(StoreProcessesTest, AChangeGivesUpOnAPeerThatHoldsTheLockAndHangs) {
  EXPECT_OK(store::SetDomainDenied(Folder(), "https://first.example"));
  const std::optional<std::string> before = StoreBytes();
  int ready[2];
  int release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  // The peer takes the lock and hangs until its end of `release` closes.
  const pid_t pid = Spawn([&] {
    close(ready[0]);
    close(release[1]);
    FileLock lock(LockPath(), store::kStoreLockWait);
    if (!lock.locked()) return kChildNoLock;
    if (write(ready[1], "x", 1) != 1) return kChildCannotSignal;
    char byte = 0;
    while (read(release[0], &byte, 1) > 0) {
    }
    return kChildDone;
  });
  ASSERT_GT(pid, 0);
  close(ready[1]);
  close(release[0]);
  pollfd waiting{ready[0], POLLIN, 0};
  char byte = 0;
  const bool peerReady = poll(&waiting, 1, 10000) == 1 && read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  if (!peerReady) {
    close(release[1]);
    ExitCode(pid, 10s);
    FAIL() << "the peer did not take the lock";
  }

  // Both kinds of change give up after the bounded wait, with their failure
  // value, and leave the file as it was.
  const Status change = store::SetDomainDenied(Folder(), "https://second.example");
  EXPECT_FALSE(change.ok());
  EXPECT_NE(change.why().find("held by another process"), std::string::npos) << change.why();
  Json::Value document;
  document["blacklisted"].append("https://replaced.example");
  EXPECT_FALSE(Folder().Write(document).ok());
  EXPECT_EQ(StoreBytes(), before);
  // Reads do not wait for the lock at all.
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), "https://first.example"));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), "https://second.example"));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the peer ended while it should hang";

  // Once the peer goes, changes work again.
  close(release[1]);
  EXPECT_EQ(ExitCode(pid, 10s), kChildDone);
  EXPECT_OK(store::SetDomainDenied(Folder(), "https://second.example"));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://first.example", "https://second.example"]})");
  EXPECT_EQ(Scratch().Names(), (std::vector<std::string>{"vorneth.db", "vorneth.db.lock"}));
}

TEST_F(StoreProcessesTest, AWriterKilledAtAnyMomentLeavesACompleteDocument) {
  // A large document makes each write long enough for kills to land inside.
  Json::Value document;
  for (int i = 0; i < 2000; ++i) document["blacklisted"].append(Origin(9999, i));
  EXPECT_OK(Folder().Write(document));

  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delayMs(0, 20);
  Json::ArrayIndex previous = 2000;
  for (int round = 0; round < 20; ++round) {
    const pid_t pid = Spawn([this, round] {
      for (int i = 0; i < 100000; ++i) (void)store::SetDomainDenied(Folder(), Origin(round, i));
      return kChildDone;
    });
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    kill(pid, SIGKILL);
    EXPECT_EQ(ExitCode(pid, 10s), -1);

    const std::optional<std::string> bytes = StoreBytes();
    ASSERT_TRUE(bytes.has_value());
    Json::Value stored;
    ASSERT_TRUE(ParseJson(*bytes, stored)) << "round " << round;
    ASSERT_EQ(Compact(stored), *bytes) << "round " << round;
    const Json::Value& list = stored["blacklisted"];
    ASSERT_TRUE(list.isArray());
    // A write is never undone: the list only grows.
    EXPECT_GE(list.size(), previous) << "round " << round;
    previous = list.size();
    for (const Json::Value& entry : list) ASSERT_TRUE(entry.isString());
  }
  // A killed holder released its lock: the store is still usable, and the
  // next write removed the temporary files that killed writers left.
  EXPECT_OK(store::SetDomainDenied(Folder(), "https://after.example"));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), "https://after.example"));
  EXPECT_EQ(Scratch().Names(), (std::vector<std::string>{"vorneth.db", "vorneth.db.lock"}));
}

}  // namespace
}  // namespace vorneth::testing
