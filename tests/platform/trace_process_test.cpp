// Where the logging library is found and what happens when it is missing or
// incomplete. The lookup runs once per process, so every case runs the probe
// program in a process of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"
#include "trace_probe_runner.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kProbe = TRACE_PROBE_PATH;
const fs::path kRecorderDir = QUENLOG_RECORDER_DIR;
const fs::path kWithoutPrepareDir = QUENLOG_WITHOUT_PREPARE_DIR;

// What the basic probe run records when tracing is on.
const std::vector<std::string> kProbeRecords = {
    "enter\tProbe::Main\t\t",
    "text\tProbe::Main\tprobe.text\tprobe value",
    "number\tProbe::Main\tprobe.number\t-12",
    "message\tProbe::Main\t\tprobe message",
    "leave\tProbe::Main\t\t7",
};

std::string Fact(const std::map<std::string, std::string>& facts, const std::string& key) {
  const auto found = facts.find(key);
  return found != facts.end() ? found->second : "<missing>";
}

class TraceProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_temp.path().empty());
    ASSERT_TRUE(fs::create_directory(m_emptyDir));
  }

  std::map<std::string, std::string> Run(const fs::path& program, const fs::path& library_path) {
    const ProbeResult result = RunProbe(program, {}, library_path, m_recordFile);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exit_status, 0);
    return ProbeFacts(result.output);
  }

  void ExpectOff(const std::map<std::string, std::string>& facts) {
    EXPECT_EQ(Fact(facts, "state"), "2");
    EXPECT_EQ(Fact(facts, "handle"), "0");
    EXPECT_EQ(Fact(facts, "leave"), "7");
    EXPECT_EQ(Fact(facts, "level"), "2147483647");
    // No entry point was called, though the probe made every kind of call.
    EXPECT_FALSE(fs::exists(m_recordFile));
  }

  void ExpectOn(const std::map<std::string, std::string>& facts) {
    EXPECT_EQ(Fact(facts, "state"), "3");
    EXPECT_NE(Fact(facts, "handle"), "0");
    EXPECT_EQ(Fact(facts, "leave"), "7");
    EXPECT_EQ(Fact(facts, "level"), "0");
    EXPECT_EQ(Fact(facts, "loaded"), "1");
    EXPECT_EQ(ReadLines(m_recordFile), kProbeRecords);
  }

  // A copy of the probe in a folder of its own, with `library_dir`'s
  // library beside it.
  fs::path ProbeBeside(const fs::path& library_dir) {
    const fs::path folder = fs::path(m_temp.path()) / "app";
    fs::create_directory(folder);
    fs::copy_file(kProbe, folder / "trace_probe");
    fs::copy_file(library_dir / "libquenlog.so", folder / "libquenlog.so");
    return folder / "trace_probe";
  }

  ScratchDir m_temp;
  const fs::path m_emptyDir = fs::path(m_temp.path()) / "empty";
  const fs::path m_recordFile = fs::path(m_temp.path()) / "records.txt";
};

TEST_F(TraceProcessTest, WithoutTheLibraryTracingIsOff) {
  const auto facts = Run(kProbe, m_emptyDir);
  ExpectOff(facts);
  EXPECT_EQ(Fact(facts, "loaded"), "0");
}

TEST_F(TraceProcessTest, LibraryWithoutPrepareEntryTurnsTracingOff) {
  const auto facts = Run(kProbe, kWithoutPrepareDir);
  ExpectOff(facts);
  // It was found and loaded; only the missing entry point turned tracing off.
  EXPECT_EQ(Fact(facts, "loaded"), "1");
}

TEST_F(TraceProcessTest, LibraryOnTheSearchPathIsFound) {
  ExpectOn(Run(kProbe, kRecorderDir));
}

TEST_F(TraceProcessTest, LibraryBesideTheExecutableIsFound) {
  ExpectOn(Run(ProbeBeside(kRecorderDir), m_emptyDir));
}

// The standard search comes before the executable's folder, and the search
// stops at the first library found even when that one turns tracing off.
TEST_F(TraceProcessTest, SearchPathWinsOverTheExecutableFolder) {
  const auto facts = Run(ProbeBeside(kRecorderDir), kWithoutPrepareDir);
  ExpectOff(facts);
  EXPECT_EQ(Fact(facts, "loaded"), "1");
}

// Two processes tracing into one record file at the same time: every line
// arrives whole, with tabs and line feeds of the text escaped.
TEST_F(TraceProcessTest, ProcessesShareTheRecordFileLineByLine) {
  constexpr int kLines = 300;
  ProbeResult first;
  ProbeResult second;
  {
    // Started from two threads so the probes overlap in time.
    const std::vector<std::string> arguments = {"repeat", std::to_string(kLines)};
    std::thread other([&] { second = RunProbe(kProbe, arguments, kRecorderDir, m_recordFile); });
    first = RunProbe(kProbe, arguments, kRecorderDir, m_recordFile);
    other.join();
  }
  ASSERT_EQ(first.exit_status, 0);
  ASSERT_EQ(second.exit_status, 0);

  std::map<std::string, int> counts;
  for (const std::string& line : ReadLines(m_recordFile)) ++counts[line];
  EXPECT_EQ(counts.size(), 2u + kLines);
  EXPECT_EQ(counts["enter\tProbe::Repeat\t\t"], 2);
  EXPECT_EQ(counts["leave\tProbe::Repeat\t\t0"], 2);
  for (int i = 0; i < kLines; ++i) {
    const std::string line = "text\tProbe::Repeat\tprobe.line\ttab\\there\\nline " + std::to_string(i);
    EXPECT_EQ(counts[line], 2) << line;
  }
}

}  // namespace
}  // namespace vorneth::testing
