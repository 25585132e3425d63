// The Windows host finds its logging library "Quenlog.dll" beside its
// executable and through the registry value that the library's installer
// writes. Runs when VORNETH_WINDOWS_TRACE_LIBRARY names the recording
// Quenlog.dll of a Windows build and VORNETH_HOST_UNDER_TEST that build's
// host, under the launcher of VORNETH_HOST_LAUNCHER (wine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host_process.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
constexpr milliseconds kAnswer{20000};
constexpr char kRegistryKey[] = "HKLM\\SOFTWARE\\ORVESSA\\AUTHENTICATION";

// The Windows name of a path on this machine: wine shows the root as Z:.
std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

// The folder under "Quen" that the host looks in for its word size: "x64"
// for a 64-bit executable, "x32" otherwise (the PE header's machine field).
std::string WordSizeFolder(const fs::path& executable) {
  std::ifstream in(executable, std::ios::binary);
  unsigned char offset[4] = {};
  unsigned char machine[2] = {};
  in.seekg(0x3c);
  in.read(reinterpret_cast<char*>(offset), sizeof offset);
  const std::streamoff header = offset[0] | offset[1] << 8 | offset[2] << 16 | offset[3] << 24;
  in.seekg(header + 4);  // after the signature "PE\0\0"
  in.read(reinterpret_cast<char*>(machine), sizeof machine);
  return (machine[0] | machine[1] << 8) == 0x8664 ? "x64" : "x32";
}

// A word for the shell, taken literally (registry paths hold backslashes).
std::string Quote(const std::string& word) {
  return "'" + word + "'";
}

// Runs the launcher's registry tool (wine reg ...); true on success.
bool Registry(const std::string& arguments) {
  std::string command;
  for (const std::string& word : HostLauncher()) command += word + " ";
  return std::system((command + "reg " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

class WindowsTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* library = std::getenv("VORNETH_WINDOWS_TRACE_LIBRARY");
    if (library == nullptr || *library == '\0') GTEST_SKIP() << "no Windows logging library to test with";
    m_library = library;
    ASSERT_FALSE(m_folder.path().empty());
    m_scratch = m_folder.path();
    fs::create_directories(m_scratch / "host");
    m_host = m_scratch / "host" / "vorneth-host.exe";
    fs::copy_file(HostUnderTestPath(), m_host);
  }

  // Runs the copied host for one page command and returns what it traced.
  std::string TraceOfOneSession() {
    const fs::path records = m_scratch / "records.txt";
    HostProcessOptions options;
    options.host_path = m_host.string();
    options.environment = {{"QUENLOG_RECORD_FILE", WindowsPath(records)}};
    HostProcess host(options);
    EXPECT_TRUE(host.Start()) << host.error();
    EXPECT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
    EXPECT_TRUE(host.Send(PageCommand("GetVersion", "[]", "1", "p")));
    EXPECT_TRUE(host.ReadFrame(kAnswer).has_value());
    host.CloseInput();
    EXPECT_EQ(host.WaitExit(kAnswer), 0);
    std::ifstream in(records, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  fs::path m_library;
  ScratchDir m_folder;  // removed with everything in it at the end
  fs::path m_scratch;   // the same folder as a path
  fs::path m_host;
};

bool TracedASession(const std::string& trace) {
  return trace.find("message\tmain\t\tVorneth-I Create\n") != std::string::npos &&
         trace.find("text\tVorneth::Vorneth\torigin.c_str ()\thttps://page.test/\n") != std::string::npos;
}

TEST_F(WindowsTraceTest, FoundBesideTheExecutable) {
  EXPECT_TRUE(TraceOfOneSession().empty()) << "without the library nothing is traced";
  fs::copy_file(m_library, m_host.parent_path() / "Quenlog.dll");
  EXPECT_TRUE(TracedASession(TraceOfOneSession()));
}

TEST_F(WindowsTraceTest, FoundThroughTheRegistryInTheSixtyFourBitView) {
  const fs::path installed = m_scratch / "logging";
  const fs::path folder = installed / "Quen" / WordSizeFolder(m_host);
  fs::create_directories(folder);
  fs::copy_file(m_library, folder / "Quenlog.dll");
  // The value stands in the 64-bit view only; a 32-bit host on 64-bit
  // Windows must ask that view explicitly.
  ASSERT_TRUE(Registry("add " + Quote(kRegistryKey) + " /v Path /t REG_SZ /d " + Quote(WindowsPath(installed)) +
                       " /reg:64 /f"));
  const std::string trace = TraceOfOneSession();
  Registry("delete " + Quote(kRegistryKey) + " /f /reg:64");
  EXPECT_TRUE(TracedASession(trace));
}

}  // namespace
}  // namespace vorneth::testing
