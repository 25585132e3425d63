// Many threads making the first trace calls of a process at the same time:
// one of them loads the library while the others wait, and every thread
// then sees the same final state. Runs the probe program so the calls really
// are the first ones of their process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "trace_probe_runner.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kProbe = TRACE_PROBE_PATH;
const fs::path kRecorderDir = QUENLOG_RECORDER_DIR;

constexpr int kThreads = 16;
// The race is short; several fresh processes give it more chances to show.
constexpr int kRuns = 5;

struct ThreadResult {
  int state = -1;
  long long handle = -1;
};

std::vector<ThreadResult> RunThreads(const fs::path& library_path, const fs::path& record_file) {
  const ProbeResult result = RunProbe(kProbe, {"threads", std::to_string(kThreads)}, library_path, record_file);
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exit_status, 0);
  std::vector<ThreadResult> threads(kThreads);
  size_t lines = 0;
  std::istringstream output(result.output);
  std::string line;
  while (std::getline(output, line)) {
    int index = -1;
    ThreadResult thread;
    if (std::sscanf(line.c_str(), "thread=%d state=%d handle=%lld", &index, &thread.state, &thread.handle) != 3 ||
        index < 0 || index >= kThreads) {
      continue;
    }
    threads[index] = thread;
    ++lines;
  }
  EXPECT_EQ(lines, static_cast<size_t>(kThreads)) << result.output;
  return threads;
}

TEST(TraceConcurrencyTest, SimultaneousFirstCallsAllSeeTracingOn) {
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ScratchDir temp;
    ASSERT_FALSE(temp.path().empty());
    const fs::path record_file = fs::path(temp.path()) / "records.txt";
    std::set<long long> handles;
    for (const ThreadResult& thread : RunThreads(kRecorderDir, record_file)) {
      EXPECT_EQ(thread.state, 3);
      EXPECT_NE(thread.handle, 0);
      handles.insert(thread.handle);
    }
    // Each thread's scope was opened and closed through the library.
    EXPECT_EQ(handles.size(), static_cast<size_t>(kThreads));
    size_t leaves = 0;
    for (const std::string& record : ReadLines(record_file)) {
      if (record.rfind("leave\tProbe::Thread\t", 0) == 0) ++leaves;
    }
    EXPECT_EQ(leaves, static_cast<size_t>(kThreads));
  }
}

TEST(TraceConcurrencyTest, SimultaneousFirstCallsAllSeeTracingOff) {
  ScratchDir temp;
  ASSERT_FALSE(temp.path().empty());
  const fs::path empty_dir = fs::path(temp.path()) / "empty";
  ASSERT_TRUE(fs::create_directory(empty_dir));
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    for (const ThreadResult& thread : RunThreads(empty_dir, {})) {
      EXPECT_EQ(thread.state, 2);
      EXPECT_EQ(thread.handle, 0);
    }
  }
}

}  // namespace
}  // namespace vorneth::testing
