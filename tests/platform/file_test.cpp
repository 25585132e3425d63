#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_reader_writer.h"
#include "support/scratch_dir.h"
#include "support/trace_recorder.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace std::string_view_literals;
using testing::ClearTraceRecords;
using testing::TraceHasMessage;
using testing::TraceRecords;

constexpr std::string_view kOpenError = "FileReaderWriter::ReadFile - ERROR - Vorneth ReadFile failed to open file";
constexpr std::string_view kOpenedScope = "FileReaderWriter::WriteFile file is opened for writing";

using testing::ScratchDir;

// Reference reading and writing with the standard library alone.
void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string AllByteValues() {
  std::string bytes;
  for (int round = 0; round < 3; ++round)
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
  return bytes;
}

// ReadFile's content, or "<absent>" / "<failed>".
std::string Read(const std::string& path) {
  std::string content;
  switch (FileReaderWriter::ReadFile(path, content)) {
    case FileRead::kRead:
      return content;
    case FileRead::kAbsent:
      return "<absent>";
    case FileRead::kFailed:
      break;
  }
  return "<failed>";
}

bool ScopeHasName(std::string_view scope, std::string_view name) {
  for (const auto& record : TraceRecords())
    if (record.scope == scope && record.name == name) return true;
  return false;
}

bool ScopeEntered(std::string_view scope) {
  for (const auto& record : TraceRecords())
    if (record.kind == "enter" && record.scope == scope) return true;
  return false;
}

bool ScopeHasText(std::string_view scope, std::string_view name, std::string_view value) {
  for (const auto& record : TraceRecords())
    if (record.kind == "text" && record.scope == scope && record.name == name && record.value == value) return true;
  return false;
}

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

// A child that reports '1' once it holds the lock (and then releases it).
class LockingChild : public ReportingChild {
 public:
  explicit LockingChild(const std::string& lock_path)
      : ReportingChild([lock_path] { return FileLock(lock_path).locked(); }) {}
};

#define ASSERT_OK(expression)                       \
  do {                                              \
    const ::vorneth::Status status_ = (expression); \
    ASSERT_TRUE(status_.ok()) << status_.why();     \
  } while (false)

// A failure must say why.
#define EXPECT_FAILED(expression)                   \
  do {                                              \
    const ::vorneth::Status status_ = (expression); \
    EXPECT_FALSE(status_.ok());                     \
    EXPECT_FALSE(status_.why().empty());            \
  } while (false)

TEST(ReadFileTest, ReturnsEveryByteIncludingNuls) {
  ScratchDir scratch;
  const std::string path = scratch / "bytes";
  const std::string bytes = "\0\0head\0\r\n\x1A tail\0"s + AllByteValues();
  WriteBytes(path, bytes);
  EXPECT_EQ(Read(path), bytes);

  const std::string large(3 * 1024 * 1024 + 17, '\0');
  WriteBytes(path, large);
  EXPECT_EQ(Read(path), large);
}

TEST(ReadFileTest, EmptyMissingAndUnreadableFilesAreToldApart) {
  ScratchDir scratch;
  const std::string empty = scratch / "empty";
  WriteBytes(empty, "");

  ClearTraceRecords();
  EXPECT_EQ(Read(empty), "");
  EXPECT_TRUE(ScopeHasText("FileReaderWriter::ReadFile", "filePath.c_str ()", empty));
  EXPECT_FALSE(TraceHasMessage(kOpenError));

  const std::string missing = scratch / "missing";
  ClearTraceRecords();
  EXPECT_EQ(Read(missing), "<absent>");
  EXPECT_EQ(Read(scratch / "no/such/folder/file"), "<absent>");
  EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile"));
  EXPECT_TRUE(ScopeHasText("FileReaderWriter::ReadFile", "filePath.c_str ()", missing));

  // A folder and links (to a file or nowhere) are there but are not read:
  // the failure is traced with its reason.
  WriteBytes(scratch / "target", "behind a link");
  fs::create_symlink(scratch / "target", scratch / "link");
  fs::create_symlink(scratch / "nowhere", scratch / "dangling");
  for (const std::string& path : {scratch.path(), scratch / "link", scratch / "dangling"}) {
    ClearTraceRecords();
    std::string content = "stale";
    EXPECT_EQ(FileReaderWriter::ReadFile(path, content), FileRead::kFailed) << path;
    EXPECT_EQ(content, "") << path;
    EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile")) << path;
    EXPECT_TRUE(ScopeHasName("FileReaderWriter::ReadFile", "why")) << path;
  }
  EXPECT_FALSE(fs::exists(scratch / "nowhere"));
}

TEST(ReadFileTest, AFifoOrADeviceIsNotWaitedOn) {
  ScratchDir scratch;
  const std::string fifo = scratch / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // In a child with a deadline: a read that waited for a writer would hang.
  ReportingChild child([&] { return Read(fifo) == "<failed>" && Read("/dev/zero") == "<failed>"; });
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.WaitForReport(20000), '1');
}

TEST(ReadFileTest, PathThatIsNotUtf8CannotBeOpened) {
  ScratchDir scratch;
  const std::string path = scratch / "bad\xFFname";
  WriteBytes(path, "content");
  ClearTraceRecords();
  EXPECT_EQ(Read(path), "<failed>");
  EXPECT_TRUE(TraceHasMessage(kOpenError));
}

TEST(WriteFileTest, WritesExactBytesAndReplacesTheWholeContent) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  const std::string first = "line one\r\nline two\n\0\0end"s + AllByteValues();

  ClearTraceRecords();
  EXPECT_TRUE(FileReaderWriter::WriteFile(path, first).ok());
  EXPECT_EQ(ReadBytes(path), first);
  EXPECT_TRUE(ScopeEntered(kOpenedScope));
  EXPECT_TRUE(ScopeHasText("FileReaderWriter::WriteFile", "filePath.c_str ()", path));

  // A shorter content leaves nothing of the old tail behind.
  EXPECT_TRUE(FileReaderWriter::WriteFile(path, "{}").ok());
  EXPECT_EQ(ReadBytes(path), "{}");
  EXPECT_EQ(fs::file_size(path), 2u);

  EXPECT_TRUE(FileReaderWriter::WriteFile(path, "").ok());
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(WriteFileTest, UnopenableFileIsLeftAloneAndTheFailureSaysWhy) {
  ScratchDir scratch;
  ClearTraceRecords();
  const Status status = FileReaderWriter::WriteFile(scratch / "no/such/folder/store", "x");
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(status.why().empty());
  EXPECT_TRUE(ScopeHasName("FileReaderWriter::WriteFile", "why"));
  EXPECT_FALSE(fs::exists(scratch / "no"));
  EXPECT_FALSE(ScopeEntered(kOpenedScope));
  EXPECT_TRUE(ScopeEntered("FileReaderWriter::WriteFile"));
}

TEST(WriteFileAtomicallyTest, CreatesAndReplacesWithoutLeavingTemporaryFiles) {
  ScratchDir scratch;
  const std::string path = scratch / "vorneth.db";
  const std::string bytes = "\0binary\0"s + AllByteValues();
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(path, bytes));
  EXPECT_EQ(ReadBytes(path), bytes);
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(path, "{}"));
  EXPECT_EQ(ReadBytes(path), "{}");
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(path, ""));
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"vorneth.db"});
}

TEST(WriteFileAtomicallyTest, KeepsThePermissionsOfTheReplacedFile) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  WriteBytes(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(path, "new"));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(WriteFileAtomicallyTest, FailureLeavesTargetAndFolderAsTheyWere) {
  ScratchDir scratch;
  // A folder cannot be replaced by a file.
  const std::string folder = scratch / "occupied";
  fs::create_directory(folder);
  WriteBytes(folder + "/inside", "kept");
  ClearTraceRecords();
  EXPECT_FAILED(FileReaderWriter::WriteFileAtomically(folder, "x"));
  EXPECT_TRUE(ScopeHasName("FileReaderWriter::WriteFileAtomically", "why"));
  EXPECT_EQ(ReadBytes(folder + "/inside"), "kept");
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"occupied"});

  EXPECT_FAILED(FileReaderWriter::WriteFileAtomically(scratch / "missing/store", "x"));
  EXPECT_FAILED(FileReaderWriter::WriteFileAtomically(scratch.path() + "/", "x"));
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"occupied"});
}

TEST(WriteFileAtomicallyTest, ReplacesALinkItselfAndNeverWritesThroughIt) {
  ScratchDir scratch;
  WriteBytes(scratch / "target", "kept");
  fs::create_symlink(scratch / "target", scratch / "store");
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(scratch / "store", "new"));
  EXPECT_FALSE(fs::is_symlink(scratch / "store"));
  EXPECT_EQ(ReadBytes(scratch / "store"), "new");
  EXPECT_EQ(ReadBytes(scratch / "target"), "kept");
}

TEST(RemoveTemporaryFilesTest, RemovesOnlyTheLeftoversOfThatFile) {
  ScratchDir scratch;
  const std::string path = scratch / "vorneth.db";
  for (const char* name : {"vorneth.db", "vorneth.db.a1B2c3.tmp", "vorneth.db.77-1.tmp", "vorneth.db.tmp",
                           "vorneth.dbx.a1B2c3.tmp", "other.a1B2c3.tmp", "vorneth.db.a1B2c3.tmpx"}) {
    WriteBytes(scratch / name, "x");
  }
  fs::create_directory(scratch / "vorneth.db.dir.tmp");
  WriteBytes(scratch / "linked", "kept");
  fs::create_symlink(scratch / "linked", scratch / "vorneth.db.link.tmp");

  ASSERT_OK(FileReaderWriter::RemoveTemporaryFiles(path));
  EXPECT_EQ(scratch.Names(),
            (std::vector<std::string>{"linked", "other.a1B2c3.tmp", "vorneth.db", "vorneth.db.a1B2c3.tmpx",
                                      "vorneth.db.dir.tmp", "vorneth.db.tmp", "vorneth.dbx.a1B2c3.tmp"}));
  EXPECT_EQ(ReadBytes(scratch / "linked"), "kept");
  EXPECT_FAILED(FileReaderWriter::RemoveTemporaryFiles(scratch / "missing/vorneth.db"));
}

TEST(ExistsTest, AnyEntryCountsAndLinksAreNotFollowed) {
  ScratchDir scratch;
  fs::create_symlink(scratch / "nowhere", scratch / "dangling");
  EXPECT_TRUE(FileReaderWriter::Exists(scratch / "dangling"));
  EXPECT_TRUE(FileReaderWriter::Exists(scratch.path()));
  EXPECT_FALSE(FileReaderWriter::Exists(scratch / "nowhere"));
}

// A reader that runs while the file is replaced again and again sees one of
// the two whole contents every time, never a mix, a truncated file or none.
TEST(FileConcurrencyTest, ReaderNeverSeesAPartlyReplacedFile) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  const std::string a(64 * 1024, 'a');
  const std::string b(40 * 1024, 'b');
  ASSERT_OK(FileReaderWriter::WriteFileAtomically(path, a));

  std::atomic<bool> done{false};
  std::atomic<int> bad_reads{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    try {
      for (int i = 0; i < 20000 && !done.load(); ++i) {
        const std::string seen = Read(path);
        if (seen != a && seen != b) ++bad_reads;
        ++reads;
      }
    } catch (...) {
      ++bad_reads;
    }
  });
  int failed_replaces = 0;
  for (int i = 0; i < 100; ++i)
    if (!FileReaderWriter::WriteFileAtomically(path, i % 2 == 0 ? b : a).ok()) ++failed_replaces;
  done = true;
  reader.join();

  EXPECT_EQ(failed_replaces, 0);
  EXPECT_EQ(bad_reads.load(), 0) << "out of " << reads.load() << " reads";
  EXPECT_EQ(ReadBytes(path), a);
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"store"});
  ClearTraceRecords();
}

TEST(FileLockTest, ExcludesAnotherProcessUntilReleased) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  std::optional<FileLock> lock;
  lock.emplace(lock_path);
  ASSERT_TRUE(lock->locked());

  LockingChild child(lock_path);
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.WaitForReport(300), 0) << "the child took the lock while the parent held it";
  lock.reset();
  EXPECT_EQ(child.WaitForReport(10000), '1') << "the child never got the released lock";
}

TEST(FileLockTest, IsFreeForTheNextHolderOnceReleased) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  {
    FileLock first(lock_path);
    ASSERT_TRUE(first.locked());
  }
  LockingChild child(lock_path);
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.WaitForReport(10000), '1');

  struct stat info {};
  ASSERT_EQ(stat(lock_path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 077, 0u) << "the lock file is private to its user";
}

TEST(FileLockTest, UnopenableLockFileHoldsNothingAndSaysWhy) {
  ScratchDir scratch;
  ClearTraceRecords();
  FileLock lock(scratch / "missing/vorneth.lock");
  EXPECT_FALSE(lock.locked());
  EXPECT_FALSE(lock.status().why().empty());
  EXPECT_TRUE(ScopeHasName("FileLock::FileLock", "why"));
  EXPECT_FALSE(FileLock("").locked());
}

TEST(FileLockTest, OddFilesAtTheLockPathAreRefusedWithoutWaitingOrFollowing) {
  ScratchDir scratch;
  // A dangling link: nothing may be created at its target.
  fs::create_symlink(scratch / "target", scratch / "dangling");
  // A link to a real file: refused too, the file is not locked through it.
  WriteBytes(scratch / "real", "");
  fs::create_symlink(scratch / "real", scratch / "link");
  fs::create_directory(scratch / "folder");
  ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0600), 0);
  for (const char* name : {"dangling", "link", "folder", "fifo"}) {
    const std::string path = scratch / name;
    ReportingChild child([path] { return !FileLock(path).locked(); });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.WaitForReport(20000), '1') << name;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(scratch / "target")));
  EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"dangling", "fifo", "folder", "link", "real"}));
}

}  // namespace
}  // namespace vorneth
