// The built host with the built logging library beside a copy of it: the
// trace file in the host's data folder, with its page's "Create" and
// commands under their scopes, the page's data hidden unless asked for, and
// a trace file that cannot be written leaving the host untouched.
//
// This build's host with libquenlog.so, or, when VORNETH_WINDOWS_QUENLOG
// names the Quenlog.dll of a Windows build, the Windows host named by
// VORNETH_HOST_UNDER_TEST with it, under the launcher of
// VORNETH_HOST_LAUNCHER (wine). The suite is QuenlogHostTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
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

using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

class QuenlogHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* windowsLibrary = std::getenv("VORNETH_WINDOWS_QUENLOG");
    m_windows = windowsLibrary != nullptr && *windowsLibrary != '\0';
    if (!m_windows && !HostLauncher().empty()) GTEST_SKIP() << "no logging library for the host under test";
    ASSERT_FALSE(m_scratch.path().empty());
    const fs::path folder = fs::path(m_scratch.path()) / "host";
    fs::create_directories(folder);
    m_host = folder / (m_windows ? "vorneth-host.exe" : "vorneth-host");
    fs::copy_file(HostUnderTestPath(), m_host);
    fs::copy_file(m_windows ? windowsLibrary : QUENLOG_LIBRARY_PATH,
                  folder / (m_windows ? "Quenlog.dll" : "libquenlog.so"));
    m_dataHome = fs::path(m_scratch.path()) / "data";
    fs::create_directories(m_dataHome / "Vorneth");
  }

  // One session: a page's "Create", a host command and a page command with
  // private parameters. Returns the trace file's lines afterwards (read
  // before a data folder the harness owns is removed); `answered` tells
  // whether both answers came.
  std::vector<std::string> RunSession(const Environment& environment, bool& answered) {
    HostProcessOptions options;
    options.host_path = m_host.string();
    options.data_home = m_dataHome.string();
    options.environment = environment;
    HostProcess host(options);
    answered = false;
    if (!host.Start()) {
      ADD_FAILURE() << host.error();
      return {};
    }
    EXPECT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
    EXPECT_TRUE(host.Send(HostCommand("GetHostVersion", "[]", "1", "p")));
    EXPECT_TRUE(host.Send(PageCommand("GetVersion", std::string("[\"") + kPrivate + "\"]", "2", "p")));
    answered = host.ReadFrames(2, kAnswer).size() == 2;
    host.CloseInput();
    EXPECT_EQ(host.WaitExit(kAnswer), 0);
    m_traceFile = fs::path(host.data_directory()) / "trace.log";
    // Only a file: a device in its place (a full disk) would read forever.
    if (!fs::is_regular_file(fs::symlink_status(m_traceFile))) return {};
    return FileLines(m_traceFile);
  }

  // "<scope> <event>" of each line, each checked for its form.
  static std::vector<std::string> Events(const std::vector<std::string>& lines) {
    std::vector<std::string> events;
    for (const std::string& line : lines) {
      EXPECT_TRUE(IsTraceLine(line)) << line;
      events.push_back(ScopeAndEvent(line));
    }
    return events;
  }

  static bool Has(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
  }
  static bool AnyHas(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  bool m_windows = false;
  ScratchDir m_scratch;
  fs::path m_host;
  fs::path m_dataHome;
  fs::path m_traceFile;  // where the last session's host traced
};

TEST_F(QuenlogHostTest, SessionIsTracedAsReadableLinesInTheDataFolder) {
  bool answered = false;
  const std::vector<std::string> events = Events(RunSession({}, answered));
  EXPECT_TRUE(answered);
  ASSERT_FALSE(events.empty());
  EXPECT_TRUE(Has(events, "Vorneth::main command.c_str () = \"Create\""));
  EXPECT_TRUE(Has(events, "Vorneth::main url.c_str () = \"https://page.test/\""));
  EXPECT_TRUE(Has(events, "Vorneth::main message \"Vorneth-I Create\""));
  EXPECT_TRUE(Has(events, "Vorneth::main command.c_str () = \"GetHostVersion\""));
  EXPECT_TRUE(Has(events, "Vorneth::Vorneth::VornethDispatch command.c_str () = \"GetVersion\""));
  // Every scope entered is left (the host ended normally).
  const auto count = [&](const std::string& event) { return std::count(events.begin(), events.end(), event); };
  EXPECT_GT(count("Vorneth::main enter"), 0);
  EXPECT_EQ(count("Vorneth::main enter"), count("Vorneth::main leave 0"));
  // The requests themselves are data: their length only.
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& event) {
    return event.rfind("Vorneth::main inp.c_str () = <data text, ", 0) == 0;
  }));
  EXPECT_FALSE(AnyHas(events, kPrivate));
}

TEST_F(QuenlogHostTest, PageDataIsWrittenWhenAskedFor) {
  bool answered = false;
  const std::vector<std::string> hidden = RunSession({}, answered);
  EXPECT_TRUE(answered);
  EXPECT_FALSE(AnyHas(hidden, kPrivate));
  const std::vector<std::string> shown = Events(RunSession({{"VORNETH_TRACE_DATA", "1"}}, answered));
  EXPECT_TRUE(answered);
  EXPECT_TRUE(AnyHas(shown, kPrivate));
  // Shown as text: the quotes of the JSON escaped.
  EXPECT_TRUE(AnyHas(shown, "\\\"command\\\":\\\"GetVersion\\\""));
  // A harness that keeps the data folder shows the second run appended.
  if (!m_windows) {
    EXPECT_GT(shown.size(), hidden.size() * 3 / 2);
  }
}

TEST_F(QuenlogHostTest, HostWorksUnchangedWhenTheTraceCannotBeWritten) {
  // The harness empties a fixed data folder at each start: nothing can be
  // put in its way there.
  if (m_windows) GTEST_SKIP() << "the data folder is the harness's";
  const fs::path traceFile = m_dataHome / "Vorneth" / "trace.log";
  fs::create_directory(traceFile);  // a folder where the file should be
  bool answered = false;
  RunSession({}, answered);
  EXPECT_TRUE(answered);
  EXPECT_TRUE(fs::is_empty(traceFile));
  fs::remove(traceFile);
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", traceFile);  // a full disk
  RunSession({}, answered);
  EXPECT_TRUE(answered);
}

}  // namespace
}  // namespace vorneth::testing
