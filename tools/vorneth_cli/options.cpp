#include "options.h"

#include <filesystem>
#include <string_view>

#include "platform/dynamic_library.h"
#include "platform/path_utf8.h"
#include "platform/status.h"

#ifndef VORNETH_HOST_FILE_NAME
#define VORNETH_HOST_FILE_NAME "vorneth-host"
#endif

namespace vorneth::cli {

using std::chrono::milliseconds;

namespace {

constexpr char kUsage[] =
    "Usage: vorneth-cli [OPTION]... [REQUEST]...\n"
    "Starts vorneth-host as the browser does, sends each REQUEST (a JSON text)\n"
    "to it as one frame, and prints every frame the host writes as one line of\n"
    "JSON on standard output. Without REQUEST arguments the requests are read\n"
    "from standard input, one per line (blank lines are skipped).\n"
    "A request that is not JSON is refused with its number and the parser's\n"
    "message, before anything is sent when it is an argument (exit status 2).\n"
    "After the last request the host's input is closed; the client prints what\n"
    "the host still writes and exits with the host's exit status.\n"
    "\n"
    "Options:\n"
    "  --create URL      first send the \"Create\" of a page at URL (port \"1\"):\n"
    "                    the host answers nothing before a page is created\n"
    "  --pretty          print each frame indented over several lines, for\n"
    "                    reading by eye (a blank line between frames)\n"
    "  --raw             send the requests as they are, JSON or not\n"
    "  --host PATH       the host executable (default: vorneth-host beside this\n"
    "                    program, else ../lib/vorneth/vorneth-host from its folder)\n"
    "  --launcher WORD   start the host through a launcher, as WORD... PATH ORIGIN\n"
    "                    (for instance an emulator for a foreign executable);\n"
    "                    repeat it for a launcher that takes arguments\n"
    "  --origin TEXT     the argument handed to the host, as a browser hands it\n"
    "                    the caller's origin (default: extension://vorneth-cli/)\n"
    "  --wait-ms N       wait N milliseconds after each request, the last one\n"
    "                    included, printing what arrives meanwhile. The host drops\n"
    "                    page commands that it has not started when its input\n"
    "                    ends, so give their answers time to come\n"
    "  --settle-ms N     after the last request, keep the host's input open until\n"
    "                    it has written nothing for N milliseconds, so that\n"
    "                    answers to page commands arrive (default: 300; 0 closes\n"
    "                    the input at once)\n"
    "  --timeout-ms N    give up when the host, with its input closed, writes\n"
    "                    nothing for N milliseconds (default: 30000)\n"
    "  -h, --help        show this text and exit\n"
    "  --                end of options\n"
    "Options that take a value may also be written --option=VALUE.\n"
    "\n"
    "Example:\n"
    "  vorneth-cli --pretty --create https://a.example \\\n"
    "              '{\"type\":\"Vorneth-I\",\"command\":\"GetHostVersion\",\"params\":[],"
    "\"callbackId\":\"1\",\"portId\":\"1\"}'\n"
    "\n"
    "Exit status: the host's; 2 for a usage error or a request that is not\n"
    "JSON, 124 for a time-out, 125 when the host cannot be started, 126 when\n"
    "its output ends inside a frame or announces an impossible length.\n";

std::optional<long> ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The host file beside this program; failing that, where an installed
// package puts it (<prefix>/bin/vorneth-cli, <prefix>/lib/vorneth/vorneth-host)
// when it is there. Empty when this program's directory is unknown.
std::string HostBesideThisProgram() {
  std::filesystem::path folder;
  if (!Utf8ToPath(ExecutableDirectory(), folder) || folder.empty()) return {};
  std::filesystem::path path = folder / VORNETH_HOST_FILE_NAME;
  const std::filesystem::path installed = folder / ".." / "lib" / "vorneth" / VORNETH_HOST_FILE_NAME;
  std::error_code error;
  if (!std::filesystem::exists(path, error) && std::filesystem::exists(installed, error)) path = installed;
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

constexpr ToolText kTool = {"vorneth-cli", kUsage};

constexpr OptionSpec kOptionSpecs[] = {
    {"create", OptionKind::kValue},       // the page whose "Create" goes first
    {"pretty", OptionKind::kFlag},        // frames printed indented
    {"raw", OptionKind::kFlag},           // requests sent as they are
    {"host", OptionKind::kValue},         // the host executable
    {"launcher", OptionKind::kRepeated},  // the words that start the host
    {"origin", OptionKind::kValue},       // the host's argument
    {"wait-ms", OptionKind::kValue},      // the pause after each request
    {"settle-ms", OptionKind::kValue},    // the quiet that ends sending
    {"timeout-ms", OptionKind::kValue},   // the quiet that ends the run
};

// The options that take milliseconds, where each goes, and whether 0 is
// refused.
struct DurationOption {
  std::string_view m_name;
  milliseconds Options::*m_field;
  bool m_aboveZero;
};
constexpr DurationOption kDurations[] = {
    {"wait-ms", &Options::m_wait, false},
    {"settle-ms", &Options::m_settle, false},
    {"timeout-ms", &Options::m_timeout, true},
};

Status ReadDurations(const CommandLine& line, Options& options) {
  for (const DurationOption& duration : kDurations) {
    if (!line.Has(duration.m_name)) continue;
    const std::string value = line.Value(duration.m_name);
    const std::optional<long> count = ParseCount(value);
    if (!count || (duration.m_aboveZero && *count == 0)) {
      return Status::Failed("--" + std::string(duration.m_name) + " needs a whole number of milliseconds" +
                            (duration.m_aboveZero ? " above 0" : "") + ", not '" + value + "'");
    }
    options.*duration.m_field = milliseconds(*count);
  }
  return Status::Ok();
}

}  // namespace

std::optional<int> ParseOptions(const std::vector<std::string>& args, Options& options) {
  CommandLine line;
  const CommandLine::Outcome outcome = line.Parse(args, kOptionSpecs);
  if (std::optional<int> status = ExitBeforeRun(kTool, outcome, line.error())) return status;
  options = Options();
  options.m_host = line.Value("host");
  options.m_launcher = line.Values("launcher");
  options.m_origin = line.Value("origin", options.m_origin);
  options.m_createUrl = line.Value("create");
  options.m_raw = line.Has("raw");
  options.m_pretty = line.Has("pretty");
  options.m_requests = line.Positional();
  options.m_fromStdin = options.m_requests.empty();
  if (Status durations = ReadDurations(line, options); !durations.ok()) return ReportUsageError(kTool, durations.why());
  if (options.m_host.empty()) options.m_host = HostBesideThisProgram();
  if (options.m_host.empty()) {
    return ReportUsageError(kTool, "cannot find the directory of this program; name the host with --host");
  }
  return std::nullopt;
}

}  // namespace vorneth::cli
