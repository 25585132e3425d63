#include "options.h"

#include <filesystem>
#include <iostream>

#include "platform/dynamic_library.h"
#include "platform/path_utf8.h"

#ifndef VORNETH_HOST_FILE_NAME
#define VORNETH_HOST_FILE_NAME "vorneth-host"
#endif

namespace vorneth::cli {

using std::chrono::milliseconds;

const char kUsage[] =
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
    "  --help            show this text and exit\n"
    "  --                end of options\n"
    "\n"
    "Example:\n"
    "  vorneth-cli --pretty --create https://a.example \\\n"
    "              '{\"type\":\"Vorneth-I\",\"command\":\"GetHostVersion\",\"params\":[],"
    "\"callbackId\":\"1\",\"portId\":\"1\"}'\n"
    "\n"
    "Exit status: the host's; 2 for a usage error or a request that is not\n"
    "JSON, 124 for a time-out, 125 when the host cannot be started, 126 when\n"
    "its output ends inside a frame or announces an impossible length.\n";

namespace {

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

bool TakesValue(const std::string& arg) {
  return arg == "--host" || arg == "--launcher" || arg == "--origin" || arg == "--wait-ms" || arg == "--settle-ms" ||
         arg == "--timeout-ms" || arg == "--create";
}

// Stores the value of the option `arg`; false (with the reason printed)
// when it is not one the option takes.
bool SetValue(Options& options, const std::string& arg, const std::string& value) {
  if (arg == "--host") {
    options.m_host = value;
  } else if (arg == "--launcher") {
    options.m_launcher.push_back(value);
  } else if (arg == "--origin") {
    options.m_origin = value;
  } else if (arg == "--create") {
    options.m_createUrl = value;
  } else {
    const std::optional<long> count = ParseCount(value);
    if (!count || (arg == "--timeout-ms" && *count == 0)) {
      std::cerr << "vorneth-cli: " << arg << " needs a whole number of milliseconds"
                << (arg == "--timeout-ms" ? " above 0" : "") << ", not '" << value << "'\n";
      return false;
    }
    (arg == "--wait-ms"     ? options.m_wait
     : arg == "--settle-ms" ? options.m_settle
                            : options.m_timeout) = milliseconds(*count);
  }
  return true;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, bool& help) {
  Options options;
  bool options_done = false;
  const size_t argc = args.size();
  for (size_t i = 0; i < argc; ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.rfind("--", 0) != 0) {
      options.m_requests.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
    } else if (arg == "--help") {
      help = true;
      return options;
    } else if (arg == "--raw" || arg == "--pretty") {
      (arg == "--raw" ? options.m_raw : options.m_pretty) = true;
    } else if (!TakesValue(arg)) {
      std::cerr << "vorneth-cli: unknown option " << arg << " (see --help)\n";
      return std::nullopt;
    } else if (i + 1 >= argc) {
      std::cerr << "vorneth-cli: " << arg << " needs a value\n";
      return std::nullopt;
    } else if (!SetValue(options, arg, args[++i])) {
      return std::nullopt;
    }
  }
  options.m_fromStdin = options.m_requests.empty();
  if (options.m_host.empty()) {
    options.m_host = HostBesideThisProgram();
    if (options.m_host.empty()) {
      std::cerr << "vorneth-cli: cannot find the directory of this program; name the host with --host\n";
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace vorneth::cli
