// The file services' cases that need POSIX services: symbolic links, FIFOs,
// devices, file modes, and children made by fork for the calls that must not
// wait. The cases every platform shares are in file_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "file_test_support.h"
#include "platform/file_lock.h"
#include "platform/file_reader_writer.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;
using testing::ClearTraceRecords;
using testing::kOpenError;
using testing::Read;
using testing::ReadBytes;
using testing::ScopeHasName;
using testing::ScratchDir;
using testing::TraceHasMessage;
using testing::WriteBytes;

// A forked child that runs `body` and reports through a pipe: '1' when it
// returned true, '0' otherwise. The child is killed and reaped when the
// object goes, whatever happened, so a body that hangs cannot hold the test.
class ReportingChild {
 public:
  explicit ReportingChild(const std::function<bool()>& body) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      close(fds[0]);
      const char report = body() ? '1' : '0';
      (void)!write(fds[1], &report, 1);
      _exit(0);
    }
    close(fds[1]);
    m_read_fd = fds[0];
  }
  ~ReportingChild() {
    if (m_read_fd >= 0) close(m_read_fd);
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  ReportingChild(const ReportingChild&) = delete;
  ReportingChild& operator=(const ReportingChild&) = delete;

  bool started() const { return m_pid > 0 && m_read_fd >= 0; }
  // The child's report, or 0 when none came within `timeout_ms`.
  char WaitForReport(int timeout_ms) {
    pollfd entry{m_read_fd, POLLIN, 0};
    if (poll(&entry, 1, timeout_ms) != 1) return 0;
    char report = 0;
    return read(m_read_fd, &report, 1) == 1 ? report : 0;
  }

 private:
  pid_t m_pid = -1;
  int m_read_fd = -1;
};

TEST(ReadFilePosixTest, LinksAreThereButAreNotRead) {
  ScratchDir scratch;
  // Links (to a file or nowhere) are entries but are not followed: the
  // failure is traced with its reason.
  WriteBytes(scratch / "target", "behind a link");
  fs::create_symlink(scratch / "target", scratch / "link");
  fs::create_symlink(scratch / "nowhere", scratch / "dangling");
  for (const std::string& path : {scratch / "link", scratch / "dangling"}) {
    ClearTraceRecords();
    std::string content = "stale";
    EXPECT_EQ(FileReaderWriter::ReadFile(path, content), FileRead::kFailed) << path;
    EXPECT_EQ(content, "") << path;
    EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile")) << path;
    EXPECT_TRUE(ScopeHasName("FileReaderWriter::ReadFile", "why")) << path;
  }
  EXPECT_FALSE(fs::exists(scratch / "nowhere"));
}

TEST(ReadFilePosixTest, AFifoOrADeviceIsNotWaitedOn) {
  ScratchDir scratch;
  const std::string fifo = scratch / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // In a child with a deadline: a read that waited for a writer would hang.
  ReportingChild child([&] { return Read(fifo) == "<failed>" && Read("/dev/zero") == "<failed>"; });
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.WaitForReport(20000), '1');
}

TEST(WriteFileAtomicallyPosixTest, KeepsThePermissionsOfTheReplacedFile) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  WriteBytes(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(path, "new"));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(WriteFileAtomicallyPosixTest, ReplacesALinkItselfAndNeverWritesThroughIt) {
  ScratchDir scratch;
  WriteBytes(scratch / "target", "kept");
  fs::create_symlink(scratch / "target", scratch / "store");
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(scratch / "store", "new"));
  EXPECT_FALSE(fs::is_symlink(scratch / "store"));
  EXPECT_EQ(ReadBytes(scratch / "store"), "new");
  EXPECT_EQ(ReadBytes(scratch / "target"), "kept");
}

TEST(RemoveTemporaryFilesPosixTest, RemovesALeftoverLinkButNotItsTarget) {
  ScratchDir scratch;
  WriteBytes(scratch / "vorneth.db", "x");
  WriteBytes(scratch / "linked", "kept");
  fs::create_symlink(scratch / "linked", scratch / "vorneth.db.link.tmp");
  ASSERT_OK(FileReaderWriter::RemoveTemporaryFiles(scratch / "vorneth.db"));
  EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"linked", "vorneth.db"}));
  EXPECT_EQ(ReadBytes(scratch / "linked"), "kept");
}

TEST(ExistsPosixTest, ADanglingLinkCountsAndIsNotFollowed) {
  ScratchDir scratch;
  fs::create_symlink(scratch / "nowhere", scratch / "dangling");
  EXPECT_TRUE(FileReaderWriter::Exists(scratch / "dangling"));
  EXPECT_FALSE(FileReaderWriter::Exists(scratch / "nowhere"));
}

TEST(FileLockPosixTest, TheLockFileIsPrivateToItsUser) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  { ASSERT_TRUE(FileLock(lock_path, std::chrono::milliseconds(0)).locked()); }
  struct stat info {};
  ASSERT_EQ(stat(lock_path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 077, 0u) << "the lock file is private to its user";
}

TEST(FileLockPosixTest, OddFilesAtTheLockPathAreRefusedWithoutWaitingOrFollowing) {
  ScratchDir scratch;
  // A dangling link: nothing may be created at its target.
  fs::create_symlink(scratch / "target", scratch / "dangling");
  // A link to a real file: refused too, the file is not locked through it.
  WriteBytes(scratch / "real", "");
  fs::create_symlink(scratch / "real", scratch / "link");
  ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0600), 0);
  for (const char* name : {"dangling", "link", "fifo"}) {
    const std::string path = scratch / name;
    ReportingChild child([path] { return !FileLock(path, std::chrono::milliseconds(0)).locked(); });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.WaitForReport(20000), '1') << name;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(scratch / "target")));
  EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"dangling", "fifo", "link", "real"}));
}

}  // namespace
}  // namespace vorneth
