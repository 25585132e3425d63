// The library's work in-process: lines under their scopes, the file's cap
// and rotation (also with a second writer of the same file, as another host
// process is), and the quiet state after a failure.
#include "tracer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "quenlog/trace_file_lines.h"
#include "support/scratch_dir.h"
#include "trace_line.h"

namespace quenlog {
namespace {

namespace fs = std::filesystem;
using vorneth::testing::FileLines;
using vorneth::testing::FileText;
using vorneth::testing::IsTraceLine;
using vorneth::testing::ScopeAndEvent;
using vorneth::testing::ScratchDir;

class TracerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(m_scratch.path().empty()); }

  // Every line of `path` as "<scope> <event>", each checked for its form.
  static std::vector<std::string> Events(const fs::path& path) {
    std::vector<std::string> events;
    for (const std::string& line : FileLines(path)) {
      EXPECT_TRUE(IsTraceLine(line)) << line;
      events.push_back(ScopeAndEvent(line));
    }
    return events;
  }

  fs::path File(const std::string& name) const { return fs::path(m_scratch.path()) / name; }
  static LogSink::PathSource At(const fs::path& path) {
    return [text = path.string()] { return text; };
  }

  ScratchDir m_scratch;
};

TEST_F(TracerTest, LinesCarryTheirScopeFromPrepareToLeave) {
  const fs::path log = File("trace.log");
  Tracer tracer(At(log), kTraceFileCap, false);
  const intptr_t handle = tracer.Prepare("Vorneth", "VornethDB::IsDomainBlocked");
  ASSERT_NE(handle, 0);
  const intptr_t other = tracer.Prepare("Vorneth", "main");
  EXPECT_NE(other, handle);
  tracer.Buffer(handle, "origin", kTypeText, "https://a.example", 17);
  tracer.Enter(handle);
  tracer.Number(handle, "count", kTypeNumber, 3);
  tracer.Number(other, "this", kTypePointer, 0x1234);
  tracer.Output(handle, "found");
  EXPECT_EQ(tracer.Leave(handle, -3), -3);
  EXPECT_EQ(tracer.scopes().OpenCount(), 1u);
  // A handle already left names nothing any more.
  tracer.Output(handle, "late");
  EXPECT_EQ(tracer.Leave(other, 1), 1);
  EXPECT_EQ(tracer.scopes().OpenCount(), 0u);

  EXPECT_EQ(Events(log), (std::vector<std::string>{
                             "Vorneth::VornethDB::IsDomainBlocked origin = \"https://a.example\"",
                             "Vorneth::VornethDB::IsDomainBlocked enter",
                             "Vorneth::VornethDB::IsDomainBlocked count = 3",
                             "Vorneth::main this = 0x00001234",
                             "Vorneth::VornethDB::IsDomainBlocked message \"found\"",
                             "Vorneth::VornethDB::IsDomainBlocked leave -3",
                             "(no scope) message \"late\"",
                             "Vorneth::main leave 1",
                         }));
}

TEST_F(TracerTest, HandleZeroAndNullTextsAreWrittenNotFollowed) {
  const fs::path log = File("trace.log");
  Tracer tracer(At(log), kTraceFileCap, false);
  const intptr_t handle = tracer.Prepare(nullptr, nullptr);
  ASSERT_NE(handle, 0);
  tracer.Output(0, nullptr);
  tracer.Buffer(0, nullptr, kTypeDataText, nullptr, 100);
  tracer.Number(0, nullptr, kTypeNumber, 1);
  EXPECT_EQ(tracer.Leave(handle, 0), 0);
  EXPECT_EQ(tracer.Leave(0, 9), 9);
  EXPECT_EQ(Events(log),
            (std::vector<std::string>{"(no scope) message (null)", "(no scope) (unnamed) = (null)",
                                      "(no scope) (unnamed) = 1", "(null)::(null) leave 0", "(no scope) leave 9"}));
}

TEST_F(TracerTest, FileIsRotatedAtTheCapReplacingTheOlderOne) {
  constexpr uint64_t kCap = 2000;
  const fs::path log = File("trace.log");
  std::ofstream(File("trace.log.1")) << "an older rotation\n";
  Tracer tracer(At(log), kCap, false);
  // Numbered lines: none may be lost or doubled across the two files.
  constexpr int kLines = 60;  // about one and a half caps
  for (int i = 0; i < kLines; ++i) tracer.Number(0, "line", kTypeNumber, i);

  const std::vector<std::string> rotated = Events(File("trace.log.1"));
  const std::vector<std::string> current = Events(log);
  ASSERT_FALSE(rotated.empty());
  ASSERT_FALSE(current.empty());
  std::vector<std::string> all = rotated;
  all.insert(all.end(), current.begin(), current.end());
  ASSERT_EQ(all.size(), static_cast<size_t>(kLines));
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(all[i], "(no scope) line = " + std::to_string(i));
  // Rotated on the line that reached the cap, not before, not later.
  const uintmax_t rotatedSize = fs::file_size(File("trace.log.1"));
  const size_t lastLine = FileLines(File("trace.log.1")).back().size() + 1;
  EXPECT_GE(rotatedSize, kCap);
  EXPECT_LT(rotatedSize - lastLine, kCap);
  EXPECT_LT(fs::file_size(log), kCap);
}

TEST_F(TracerTest, TwoWritersOfOneFileRotateItOnce) {
  // Two host processes append to the same file. The first to pass the cap
  // rotates it; the second, still holding the rotated file, must follow to
  // the new one and not rotate again (which would push the new file over
  // the rotated one and lose it).
  constexpr uint64_t kCap = 1000;
  const fs::path log = File("trace.log");
  Tracer first(At(log), kCap, false);
  Tracer second(At(log), kCap, false);
  ASSERT_NE(second.Prepare("Vorneth", "second"), 0);  // opens its file now
  int lines = 0;
  while (!fs::exists(File("trace.log.1")) && lines < 1000) first.Number(0, "first", kTypeNumber, lines++);
  ASSERT_TRUE(fs::exists(File("trace.log.1")));
  first.Number(0, "first", kTypeNumber, lines++);  // the new file's first line
  second.Number(0, "second", kTypeNumber, 0);      // reaches the rotated file, over the cap
  second.Number(0, "second", kTypeNumber, 1);

  const std::vector<std::string> rotated = Events(File("trace.log.1"));
  ASSERT_EQ(rotated.size(), static_cast<size_t>(lines));
  EXPECT_EQ(rotated.front(), "(no scope) first = 0");
  EXPECT_EQ(rotated.back(), "(no scope) second = 0");
  EXPECT_EQ(Events(log),
            (std::vector<std::string>{"(no scope) first = " + std::to_string(lines - 1), "(no scope) second = 1"}));
  EXPECT_FALSE(first.sink().Quiet());
  EXPECT_FALSE(second.sink().Quiet());
}

TEST_F(TracerTest, AFileThatCannotBeOpenedTurnsTheLibraryQuiet) {
  fs::create_directory(File("trace.log"));  // a folder where the file should be
  int asked = 0;
  Tracer tracer(
      [&] {
        ++asked;
        return File("trace.log").string();
      },
      kTraceFileCap, false);
  EXPECT_EQ(tracer.Prepare("Vorneth", "main"), 0);
  EXPECT_TRUE(tracer.sink().Quiet());
  tracer.Output(0, "dropped");
  EXPECT_EQ(tracer.Leave(0, 4), 4);
  EXPECT_EQ(tracer.Prepare("Vorneth", "main"), 0);
  EXPECT_EQ(asked, 1);

  // No data folder at all: an empty path.
  Tracer nowhere([] { return std::string(); }, kTraceFileCap, false);
  EXPECT_EQ(nowhere.Prepare("Vorneth", "main"), 0);
  EXPECT_TRUE(nowhere.sink().Quiet());
}

TEST_F(TracerTest, AFailedWriteTurnsTheLibraryQuiet) {
  // A full disk: the device that fails every write with "no space".
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Tracer tracer(At("/dev/full"), kTraceFileCap, false);
  const intptr_t handle = tracer.Prepare("Vorneth", "main");
  ASSERT_NE(handle, 0);
  EXPECT_FALSE(tracer.sink().Quiet());
  tracer.Enter(handle);
  EXPECT_TRUE(tracer.sink().Quiet());
  EXPECT_EQ(tracer.Leave(handle, 2), 2);
  EXPECT_EQ(tracer.Prepare("Vorneth", "main"), 0);
  EXPECT_EQ(tracer.scopes().OpenCount(), 0u);
}

}  // namespace
}  // namespace quenlog
