// Threads tracing at once through one library: every line whole, none lost,
// each thread's lines in its order, also while the file is being rotated.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "quenlog/trace_file_lines.h"
#include "support/scratch_dir.h"
#include "trace_line.h"
#include "tracer.h"

namespace quenlog {
namespace {

namespace fs = std::filesystem;
using vorneth::testing::FileLines;
using vorneth::testing::IsTraceLine;
using vorneth::testing::ScopeAndEvent;
using vorneth::testing::ScratchDir;

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 400;

// Each thread opens scopes of its own name and writes a long text in each,
// so that an interleaved write would show inside a line.
void TraceFrom(Tracer& tracer, int thread) {
  const std::string scope = "worker" + std::to_string(thread);
  const std::string text(300, static_cast<char>('a' + thread));
  for (int i = 0; i < kLinesPerThread / 2; ++i) {
    const intptr_t handle = tracer.Prepare("Vorneth", scope.c_str());
    tracer.Buffer(handle, "text", kTypeText, text.data(), static_cast<uint32_t>(text.size()));
    tracer.Leave(handle, i);
  }
}

// The lines of `files`, checked: each of the form of a trace line and, for
// a thread's scope, its own text; returns how many each scope has, and
// checks each scope's results count up.
std::map<std::string, int> CheckLines(const std::vector<fs::path>& files) {
  std::map<std::string, int> counts;
  std::map<std::string, int> nextResult;
  for (const fs::path& file : files) {
    for (const std::string& line : FileLines(file)) {
      EXPECT_TRUE(IsTraceLine(line)) << line.substr(0, 200);
      const std::string event = ScopeAndEvent(line);
      const std::string scope = event.substr(0, event.find(' '));
      ++counts[scope];
      if (scope.rfind("Vorneth::worker", 0) != 0) continue;
      const char mark = static_cast<char>('a' + std::stoi(scope.substr(15)));
      const std::string rest = event.substr(scope.size() + 1);
      if (rest.rfind("leave ", 0) == 0) {
        const int result = std::stoi(rest.substr(6));
        if (nextResult.count(scope) != 0) {
          EXPECT_EQ(result, nextResult[scope]) << scope;
        }
        nextResult[scope] = result + 1;
      } else {
        EXPECT_EQ(rest, "text = \"" + std::string(300, mark) + "\"") << scope;
      }
    }
  }
  return counts;
}

TEST(TracerConcurrencyTest, ThreadsLinesAreWholeAndAllThere) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const fs::path log = fs::path(scratch.path()) / "trace.log";
  Tracer tracer([&] { return log.string(); }, kTraceFileCap, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&tracer, t] { TraceFrom(tracer, t); });
  for (std::thread& thread : threads) thread.join();

  const std::map<std::string, int> counts = CheckLines({log});
  ASSERT_EQ(counts.size(), static_cast<size_t>(kThreads));
  for (const auto& [scope, count] : counts) EXPECT_EQ(count, kLinesPerThread) << scope;
  EXPECT_EQ(tracer.scopes().OpenCount(), 0u);
}

TEST(TracerConcurrencyTest, LinesStayWholeAcrossRotations) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const fs::path log = fs::path(scratch.path()) / "trace.log";
  // Many rotations: only the last two files remain, every line in them whole.
  constexpr uint64_t kCap = 64 * 1024;
  Tracer tracer([&] { return log.string(); }, kCap, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&tracer, t] { TraceFrom(tracer, t); });
  for (std::thread& thread : threads) thread.join();

  EXPECT_FALSE(tracer.sink().Quiet());
  const fs::path rotated = fs::path(scratch.path()) / "trace.log.1";
  ASSERT_TRUE(fs::exists(rotated));
  EXPECT_LT(fs::file_size(log), kCap);
  EXPECT_LT(fs::file_size(rotated), kCap + 1024);
  int total = 0;
  for (const auto& [scope, count] : CheckLines({rotated, log})) total += count;
  EXPECT_GT(total, 0);
  EXPECT_LT(total, kThreads * kLinesPerThread);
}

}  // namespace
}  // namespace quenlog
