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

TEST(ReadFileTest, ReturnsEveryByteIncludingNuls) {
  ScratchDir scratch;
  const std::string path = scratch / "bytes";
  const std::string bytes = "\0\0head\0\r\n\x1A tail\0"s + AllByteValues();
  WriteBytes(path, bytes);
  EXPECT_EQ(FileReaderWriter::ReadFile(path), bytes);

  const std::string large(3 * 1024 * 1024 + 17, '\0');
  WriteBytes(path, large);
  EXPECT_EQ(FileReaderWriter::ReadFile(path), large);
}

TEST(ReadFileTest, EmptyAndMissingFilesReadAsEmptyButOnlyMissingIsAnError) {
  ScratchDir scratch;
  const std::string empty = scratch / "empty";
  WriteBytes(empty, "");

  ClearTraceRecords();
  EXPECT_EQ(FileReaderWriter::ReadFile(empty), "");
  EXPECT_TRUE(ScopeHasText("FileReaderWriter::ReadFile", "filePath.c_str ()", empty));
  EXPECT_FALSE(TraceHasMessage(kOpenError));

  const std::string missing = scratch / "missing";
  ClearTraceRecords();
  EXPECT_EQ(FileReaderWriter::ReadFile(missing), "");
  EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile"));
  EXPECT_TRUE(ScopeHasText("FileReaderWriter::ReadFile", "filePath.c_str ()", missing));

  // A folder is not a file that can be read.
  ClearTraceRecords();
  EXPECT_EQ(FileReaderWriter::ReadFile(scratch.path()), "");
  EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile"));
}

TEST(ReadFileTest, PathThatIsNotUtf8CannotBeOpened) {
  ScratchDir scratch;
  const std::string path = scratch / "bad\xFFname";
  WriteBytes(path, "content");
  ClearTraceRecords();
  EXPECT_EQ(FileReaderWriter::ReadFile(path), "");
  EXPECT_TRUE(TraceHasMessage(kOpenError));
}

TEST(WriteFileTest, WritesExactBytesAndReplacesTheWholeContent) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  const std::string first = "line one\r\nline two\n\0\0end"s + AllByteValues();

  ClearTraceRecords();
  FileReaderWriter::WriteFile(path, first);
  EXPECT_EQ(ReadBytes(path), first);
  EXPECT_TRUE(ScopeEntered(kOpenedScope));
  EXPECT_TRUE(ScopeHasText("FileReaderWriter::WriteFile", "filePath.c_str ()", path));

  // A shorter content leaves nothing of the old tail behind.
  FileReaderWriter::WriteFile(path, "{}");
  EXPECT_EQ(ReadBytes(path), "{}");
  EXPECT_EQ(fs::file_size(path), 2u);

  FileReaderWriter::WriteFile(path, "");
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(WriteFileTest, UnopenableFileIsLeftAloneSilently) {
  ScratchDir scratch;
  ClearTraceRecords();
  FileReaderWriter::WriteFile(scratch / "no/such/folder/store", "x");
  EXPECT_FALSE(fs::exists(scratch / "no"));
  EXPECT_FALSE(ScopeEntered(kOpenedScope));
  EXPECT_TRUE(ScopeEntered("FileReaderWriter::WriteFile"));
}

TEST(WriteFileAtomicallyTest, CreatesAndReplacesWithoutLeavingTemporaryFiles) {
  ScratchDir scratch;
  const std::string path = scratch / "vorneth.db";
  const std::string bytes = "\0binary\0"s + AllByteValues();
  ASSERT_TRUE(FileReaderWriter::WriteFileAtomically(path, bytes));
  EXPECT_EQ(ReadBytes(path), bytes);
  ASSERT_TRUE(FileReaderWriter::WriteFileAtomically(path, "{}"));
  EXPECT_EQ(ReadBytes(path), "{}");
  ASSERT_TRUE(FileReaderWriter::WriteFileAtomically(path, ""));
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"vorneth.db"});
}

TEST(WriteFileAtomicallyTest, KeepsThePermissionsOfTheReplacedFile) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  WriteBytes(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(FileReaderWriter::WriteFileAtomically(path, "new"));
  struct stat info{};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(WriteFileAtomicallyTest, FailureLeavesTargetAndFolderAsTheyWere) {
  ScratchDir scratch;
  // A folder cannot be replaced by a file.
  const std::string folder = scratch / "occupied";
  fs::create_directory(folder);
  WriteBytes(folder + "/inside", "kept");
  EXPECT_FALSE(FileReaderWriter::WriteFileAtomically(folder, "x"));
  EXPECT_EQ(ReadBytes(folder + "/inside"), "kept");
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"occupied"});

  EXPECT_FALSE(FileReaderWriter::WriteFileAtomically(scratch / "missing/store", "x"));
  EXPECT_FALSE(FileReaderWriter::WriteFileAtomically(scratch.path() + "/", "x"));
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"occupied"});
}

// A reader that runs while the file is replaced again and again sees one of
// the two whole contents every time, never a mix, a truncated file or none.
TEST(FileConcurrencyTest, ReaderNeverSeesAPartlyReplacedFile) {
  ScratchDir scratch;
  const std::string path = scratch / "store";
  const std::string a(64 * 1024, 'a');
  const std::string b(40 * 1024, 'b');
  ASSERT_TRUE(FileReaderWriter::WriteFileAtomically(path, a));

  std::atomic<bool> done{false};
  std::atomic<int> bad_reads{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    try {
      for (int i = 0; i < 20000 && !done.load(); ++i) {
        const std::string seen = FileReaderWriter::ReadFile(path);
        if (seen != a && seen != b) ++bad_reads;
        ++reads;
      }
    } catch (...) {
      ++bad_reads;
    }
  });
  int failed_replaces = 0;
  for (int i = 0; i < 100; ++i)
    if (!FileReaderWriter::WriteFileAtomically(path, i % 2 == 0 ? b : a)) ++failed_replaces;
  done = true;
  reader.join();

  EXPECT_EQ(failed_replaces, 0);
  EXPECT_EQ(bad_reads.load(), 0) << "out of " << reads.load() << " reads";
  EXPECT_EQ(ReadBytes(path), a);
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"store"});
  ClearTraceRecords();
}

// A forked child that reports through a pipe once it holds the lock. The
// child is killed and reaped when the object goes, whatever happened.
class LockingChild {
 public:
  explicit LockingChild(const std::string& lock_path) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      char report = '0';
      {
        FileLock lock(lock_path);
        if (lock.locked()) report = '1';
        (void)!write(fds[1], &report, 1);
      }
      _exit(0);
    }
    close(fds[1]);
    read_fd_ = fds[0];
  }
  ~LockingChild() {
    if (read_fd_ >= 0) close(read_fd_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  LockingChild(const LockingChild&) = delete;
  LockingChild& operator=(const LockingChild&) = delete;

  bool started() const { return pid_ > 0 && read_fd_ >= 0; }
  // The child's report ('1' locked, '0' could not lock), or 0 when none came
  // within `timeout_ms`.
  char WaitForReport(int timeout_ms) {
    pollfd entry{read_fd_, POLLIN, 0};
    if (poll(&entry, 1, timeout_ms) != 1) return 0;
    char report = 0;
    return read(read_fd_, &report, 1) == 1 ? report : 0;
  }

 private:
  pid_t pid_ = -1;
  int read_fd_ = -1;
};

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

  struct stat info{};
  ASSERT_EQ(stat(lock_path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 077, 0u) << "the lock file is private to its user";
}

TEST(FileLockTest, UnopenableLockFileHoldsNothing) {
  ScratchDir scratch;
  FileLock lock(scratch / "missing/vorneth.lock");
  EXPECT_FALSE(lock.locked());
}

}  // namespace
}  // namespace vorneth
