// The built host with the built logging library beside a copy of it: the
// trace file in the host's data folder, with its page's "Create" and
// commands under their scopes, the page's data hidden unless asked for, and
// a trace file that cannot be written leaving the host untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host_process.h"
#include "quenlog/trace_file_lines.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
constexpr milliseconds kAnswer{20000};

// A text that only the page's command parameters carry.
constexpr char kPrivate[] = "private-page-data-42";

class HostTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HostLauncher().empty()) GTEST_SKIP() << "the library is built for this system's host only";
    ASSERT_FALSE(m_scratch.path().empty());
    const fs::path folder = fs::path(m_scratch.path()) / "host";
    fs::create_directories(folder);
    m_host = folder / "vorneth-host";
    fs::copy_file(HostUnderTestPath(), m_host);
    fs::copy_file(QUENLOG_LIBRARY_PATH, folder / "libquenlog.so");
    m_dataHome = fs::path(m_scratch.path()) / "data";
    fs::create_directories(m_dataHome / "Vorneth");
  }

  // One session: a page's "Create", a host command and a page command with
  // private parameters; true when both answers came.
  bool RunSession(const std::vector<std::pair<std::string, std::optional<std::string>>>& environment = {}) {
    HostProcessOptions options;
    options.host_path = m_host.string();
    options.data_home = m_dataHome.string();
    options.environment = environment;
    HostProcess host(options);
    if (!host.Start()) {
      ADD_FAILURE() << host.error();
      return false;
    }
    EXPECT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
    EXPECT_TRUE(host.Send(HostCommand("GetHostVersion", "[]", "1", "p")));
    EXPECT_TRUE(host.Send(PageCommand("GetVersion", std::string("[\"") + kPrivate + "\"]", "2", "p")));
    const size_t answers = host.ReadFrames(2, kAnswer).size();
    host.CloseInput();
    EXPECT_EQ(host.WaitExit(kAnswer), 0);
    return answers == 2;
  }

  fs::path TraceFile() const { return m_dataHome / "Vorneth" / "trace.log"; }

  // "<scope> <event>" of every line of the trace file, each checked.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const std::string& line : FileLines(TraceFile())) {
      EXPECT_TRUE(IsTraceLine(line)) << line;
      events.push_back(ScopeAndEvent(line));
    }
    return events;
  }

  static bool Has(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  ScratchDir m_scratch;
  fs::path m_host;
  fs::path m_dataHome;
};

TEST_F(HostTraceTest, SessionIsTracedAsReadableLinesInTheDataFolder) {
  ASSERT_TRUE(RunSession());
  const std::vector<std::string> events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_TRUE(Has(events, "Vorneth::main command.c_str () = \"Create\"")) << FileText(TraceFile());
  EXPECT_TRUE(Has(events, "Vorneth::main url.c_str () = \"https://page.test/\""));
  EXPECT_TRUE(Has(events, "Vorneth::main message \"Vorneth-I Create\""));
  EXPECT_TRUE(Has(events, "Vorneth::main command.c_str () = \"GetHostVersion\""));
  EXPECT_TRUE(Has(events, "Vorneth::Vorneth::VornethDispatch command.c_str () = \"GetVersion\""));
  EXPECT_TRUE(Has(events, "Vorneth::main enter"));
  EXPECT_TRUE(Has(events, "Vorneth::main leave 0"));
  // Every scope entered is left (the host ended normally).
  const auto count = [&](const std::string& event) { return std::count(events.begin(), events.end(), event); };
  EXPECT_EQ(count("Vorneth::main enter"), count("Vorneth::main leave 0"));
  // The requests themselves are data: their length only.
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& event) {
    return event.rfind("Vorneth::main inp.c_str () = <data text, ", 0) == 0;
  }));
  EXPECT_EQ(FileText(TraceFile()).find(kPrivate), std::string::npos);
}

TEST_F(HostTraceTest, PageDataIsWrittenWhenAskedForAndLinesAppendAcrossRuns) {
  ASSERT_TRUE(RunSession());
  const size_t first = FileLines(TraceFile()).size();
  EXPECT_EQ(FileText(TraceFile()).find(kPrivate), std::string::npos);
  ASSERT_TRUE(RunSession({{"VORNETH_TRACE_DATA", "1"}}));
  const std::string text = FileText(TraceFile());
  EXPECT_GT(FileLines(TraceFile()).size(), first);
  EXPECT_NE(text.find(kPrivate), std::string::npos);
  // Shown as text: the quotes of the JSON escaped.
  EXPECT_NE(text.find("\\\"command\\\":\\\"GetVersion\\\""), std::string::npos);
  Events();
}

TEST_F(HostTraceTest, HostWorksUnchangedWhenTheTraceCannotBeWritten) {
  // A folder where the file should be, then a full disk.
  fs::create_directory(TraceFile());
  EXPECT_TRUE(RunSession());
  EXPECT_TRUE(fs::is_empty(TraceFile()));
  fs::remove(TraceFile());
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", TraceFile());
  EXPECT_TRUE(RunSession());
}

}  // namespace
}  // namespace vorneth::testing
