// The file services on every platform the tests build for: whole-file reads
// and writes, the atomic replacement, the removal of leftovers and the lock
// between processes (through a probe program started as a real child). The
// cases that need POSIX services (links, FIFOs, devices, modes, fork) are in
// file_posix_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "file_test_support.h"
#include "platform/file_lock.h"
#include "platform/file_reader_writer.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using std::chrono::milliseconds;
using testing::AllByteValues;
using testing::ClearTraceRecords;
using testing::kOpenedScope;
using testing::kOpenError;
using testing::Read;
using testing::ReadBytes;
using testing::ScopeEntered;
using testing::ScopeHasName;
using testing::ScopeHasText;
using testing::ScratchDir;
using testing::TraceHasMessage;
using testing::WriteBytes;

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

  // A folder is there but is not read: the failure is traced with its reason.
  ClearTraceRecords();
  std::string content = "stale";
  EXPECT_EQ(FileReaderWriter::ReadFile(scratch.path(), content), FileRead::kFailed);
  EXPECT_EQ(content, "");
  EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile"));
  EXPECT_TRUE(ScopeHasName("FileReaderWriter::ReadFile", "why"));
}

TEST(ReadFileTest, PathThatIsNotUtf8CannotBeOpened) {
  ScratchDir scratch;
  // Joined by hand: a std::filesystem::path would read the name in the
  // platform's narrow code page, where the byte is a valid character.
  const std::string path = scratch.path() + "/bad\xFFname";
  WriteBytes(path, "content");
  ClearTraceRecords();
  EXPECT_EQ(Read(path), "<failed>");
  EXPECT_TRUE(TraceHasMessage(kOpenError));
}

// A limit admits a file of exactly that size and refuses a larger one
// without handing out any of it; without a limit the same file reads whole.
TEST(ReadFileTest, LimitRefusesLargerFilesAndKeepsNothing) {
  ScratchDir scratch;
  const std::string path = scratch / "package";
  const std::string bytes = AllByteValues() + std::string(100000, 'x');
  WriteBytes(path, bytes);
  std::string content = "stale";
  EXPECT_EQ(FileReaderWriter::ReadFile(path, content, bytes.size()), FileRead::kRead);
  EXPECT_EQ(content, bytes);
  ClearTraceRecords();
  EXPECT_EQ(FileReaderWriter::ReadFile(path, content, bytes.size() - 1), FileRead::kTooLarge);
  EXPECT_EQ(content, "");
  EXPECT_TRUE(TraceHasMessage(kOpenError, "FileReaderWriter::ReadFile"));
  EXPECT_TRUE(ScopeHasName("FileReaderWriter::ReadFile", "why"));
  EXPECT_EQ(FileReaderWriter::ReadFile(path, content, 0), FileRead::kTooLarge);
  EXPECT_EQ(Read(path), bytes);
  // A missing file stays absent and an empty one is read under any limit.
  EXPECT_EQ(FileReaderWriter::ReadFile(scratch / "missing", content, 10), FileRead::kAbsent);
  EXPECT_EQ(FileReaderWriter::ReadFile(scratch.path(), content, 10), FileRead::kFailed);
  WriteBytes(path, "");
  EXPECT_EQ(FileReaderWriter::ReadFile(path, content, 0), FileRead::kRead);
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

TEST(RemoveTemporaryFilesTest, RemovesOnlyTheLeftoversOfThatFile) {
  ScratchDir scratch;
  const std::string path = scratch / "vorneth.db";
  for (const char* name : {"vorneth.db", "vorneth.db.a1B2c3.tmp", "vorneth.db.77-1.tmp", "vorneth.db.tmp",
                           "vorneth.dbx.a1B2c3.tmp", "other.a1B2c3.tmp", "vorneth.db.a1B2c3.tmpx"}) {
    WriteBytes(scratch / name, "x");
  }
  fs::create_directory(scratch / "vorneth.db.dir.tmp");

  ASSERT_OK(FileReaderWriter::RemoveTemporaryFiles(path));
  EXPECT_EQ(scratch.Names(),
            (std::vector<std::string>{"other.a1B2c3.tmp", "vorneth.db", "vorneth.db.a1B2c3.tmpx", "vorneth.db.dir.tmp",
                                      "vorneth.db.tmp", "vorneth.dbx.a1B2c3.tmp"}));
  EXPECT_FAILED(FileReaderWriter::RemoveTemporaryFiles(scratch / "missing/vorneth.db"));
}

TEST(ExistsTest, FilesAndFoldersCountMissingEntriesDoNot) {
  ScratchDir scratch;
  WriteBytes(scratch / "file", "");
  EXPECT_TRUE(FileReaderWriter::Exists(scratch / "file"));
  EXPECT_TRUE(FileReaderWriter::Exists(scratch.path()));
  EXPECT_FALSE(FileReaderWriter::Exists(scratch / "nowhere"));
  EXPECT_FALSE(FileReaderWriter::Exists(scratch / "nowhere/file"));
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
#ifdef _WIN32
        // Windows refuses to replace a file while any handle on it is open,
        // and the writer retries only for a while: a reader that reopened
        // the file at once every time would starve it. (Newer Windows can
        // replace an open file, but the emulator the tests run under
        // cannot.) A host reads the store once per operation.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
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

// The probe program (tests/support/file_lock_probe_main.cpp) as a second
// process that takes the lock, waiting at most `wait_ms` (a minute when
// empty), and holds it until its input ends or it is killed.
class LockProbe {
 public:
  explicit LockProbe(const std::string& lock_path, const std::string& wait_ms = "") {
    std::vector<std::string> command = {FILE_LOCK_PROBE_PATH, lock_path};
    if (!wait_ms.empty()) command.push_back(wait_ms);
    m_started = m_child.Start({command, {}, {}});
  }
  bool started() const { return m_started; }
  const std::string& error() const { return m_child.error(); }

  // The probe's report ("locked", "busy" or "refused"), or empty when none
  // came within `limit`.
  std::string WaitForReport(milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_output.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || m_child.Read(m_output, left) != ReadStatus::kData) break;
    }
    // On Windows the probe's output is in text mode: its line ends in "\r\n".
    const auto end = m_output.find_first_of("\r\n");
    return m_output.find('\n') == std::string::npos ? std::string() : m_output.substr(0, end);
  }
  // Ends the probe without letting it release the lock itself.
  void Kill() { m_child.Kill(); }

 private:
  ChildProcess m_child;
  bool m_started = false;
  std::string m_output;
};

constexpr milliseconds kGenerous{10000};
// How long a probe that should be waiting for the lock is watched for a
// report it must not make.
constexpr milliseconds kStillWaiting{300};

TEST(FileLockTest, ExcludesAnotherProcessUntilReleased) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  std::optional<FileLock> lock;
  lock.emplace(lock_path, milliseconds(0));
  ASSERT_TRUE(lock->locked());

  LockProbe probe(lock_path);
  ASSERT_TRUE(probe.started()) << probe.error();
  EXPECT_EQ(probe.WaitForReport(kStillWaiting), "") << "the probe took the lock while this process held it";
  lock.reset();
  EXPECT_EQ(probe.WaitForReport(kGenerous), "locked") << "the probe never got the released lock";
}

TEST(FileLockTest, IsFreeForTheNextHolderOnceReleased) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  {
    FileLock first(lock_path, milliseconds(0));
    ASSERT_TRUE(first.locked());
  }
  LockProbe probe(lock_path);
  ASSERT_TRUE(probe.started()) << probe.error();
  EXPECT_EQ(probe.WaitForReport(kGenerous), "locked");
}

TEST(FileLockTest, TheSystemReleasesTheLockOfAProcessThatDies) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  LockProbe holder(lock_path);
  ASSERT_TRUE(holder.started()) << holder.error();
  ASSERT_EQ(holder.WaitForReport(kGenerous), "locked");

  LockProbe waiter(lock_path);
  ASSERT_TRUE(waiter.started()) << waiter.error();
  EXPECT_EQ(waiter.WaitForReport(kStillWaiting), "") << "two processes held the lock at once";
  holder.Kill();
  EXPECT_EQ(waiter.WaitForReport(kGenerous), "locked");
}

TEST(FileLockTest, AHolderThatNeverLetsGoEndsTheWaitAtItsBound) {
  ScratchDir scratch;
  const std::string lock_path = scratch / "vorneth.lock";
  LockProbe holder(lock_path);
  ASSERT_TRUE(holder.started()) << holder.error();
  ASSERT_EQ(holder.WaitForReport(kGenerous), "locked");

  ClearTraceRecords();
  {
    FileLock waiting(lock_path, milliseconds(50));
    EXPECT_FALSE(waiting.locked());
    EXPECT_TRUE(waiting.held_elsewhere());
    EXPECT_NE(waiting.status().why().find("held by another process"), std::string::npos) << waiting.status().why();
    EXPECT_TRUE(TraceHasMessage("FileLock - ERROR - held by another process", "FileLock::FileLock"));
  }
  // A wait of zero still tries once, and gives up at once.
  LockProbe impatient(lock_path, "0");
  ASSERT_TRUE(impatient.started()) << impatient.error();
  EXPECT_EQ(impatient.WaitForReport(kGenerous), "busy");
  // The waiters that gave up left the holder's lock alone.
  LockProbe waiter(lock_path);
  ASSERT_TRUE(waiter.started()) << waiter.error();
  EXPECT_EQ(waiter.WaitForReport(kStillWaiting), "") << "a waiter that gave up released the holder's lock";
  holder.Kill();
  EXPECT_EQ(waiter.WaitForReport(kGenerous), "locked");
}

TEST(FileLockTest, UnopenableLockFileHoldsNothingAndSaysWhy) {
  ScratchDir scratch;
  ClearTraceRecords();
  FileLock lock(scratch / "missing/vorneth.lock", kGenerous);
  EXPECT_FALSE(lock.locked());
  EXPECT_FALSE(lock.status().why().empty());
  EXPECT_TRUE(ScopeHasName("FileLock::FileLock", "why"));
  EXPECT_FALSE(lock.held_elsewhere()) << "a file that cannot be opened is no busy lock";
  EXPECT_FALSE(FileLock("", kGenerous).locked());
}

TEST(FileLockTest, AFolderAtTheLockPathIsRefused) {
  ScratchDir scratch;
  fs::create_directory(scratch / "folder");
  // In the probe, so that a lock that waited instead of refusing cannot
  // hold this test.
  LockProbe probe(scratch / "folder");
  ASSERT_TRUE(probe.started()) << probe.error();
  EXPECT_EQ(probe.WaitForReport(kGenerous), "refused");
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"folder"});
}

}  // namespace
}  // namespace vorneth
