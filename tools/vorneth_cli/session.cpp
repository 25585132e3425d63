// vorneth-cli: talks to vorneth-host the way the browser does, for people
// and scripts.
//
// It starts the host as a child with one argument of the browser's own (the
// caller's origin; the host ignores it), sends each request as one frame,
// one after the other, and prints every frame the host writes as one line on
// standard output, as it arrives (a text line of the platform: it ends in
// CR LF on Windows). After the last request it closes the host's input,
// prints what is still coming until the host exits, and exits with the
// host's exit status.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame/frame_codec.h"
#include "platform/child_process.h"
#include "platform/dynamic_library.h"
#include "platform/mutex.h"
#include "platform/path_utf8.h"
#include "platform/program_arguments.h"

#ifndef VORNETH_HOST_FILE_NAME
#define VORNETH_HOST_FILE_NAME "vorneth-host"
#endif

namespace vorneth {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Exit statuses of the client itself; any other status is the host's.
constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 124;
constexpr int kExitCannotStart = 125;
constexpr int kExitBadStream = 126;

constexpr char kUsage[] =
    "Usage: vorneth-cli [OPTION]... [REQUEST]...\n"
    "Starts vorneth-host as the browser does, sends each REQUEST (a JSON text)\n"
    "to it as one frame, and prints every frame the host writes as one line of\n"
    "JSON on standard output. Without REQUEST arguments the requests are read\n"
    "from standard input, one per line (blank lines are skipped).\n"
    "After the last request the host's input is closed; the client prints what\n"
    "the host still writes and exits with the host's exit status.\n"
    "\n"
    "Options:\n"
    "  --host PATH       the host executable (default: vorneth-host beside this\n"
    "                    program)\n"
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
    "  vorneth-cli '{\"type\":\"Vorneth-I\",\"command\":\"Create\",\"url\":\"https://a.example\","
    "\"version\":\"1.0\",\"portId\":\"1\"}' \\\n"
    "              '{\"type\":\"Vorneth-I\",\"command\":\"GetHostVersion\",\"params\":[],"
    "\"callbackId\":\"1\",\"portId\":\"1\"}'\n"
    "\n"
    "Exit status: the host's; 2 for a usage error, 124 for a time-out, 125 when\n"
    "the host cannot be started, 126 when its output ends inside a frame or\n"
    "announces an impossible length.\n";

struct Options {
  std::string host;
  std::vector<std::string> launcher;
  std::string origin = "extension://vorneth-cli/";
  milliseconds wait{0};
  milliseconds settle{300};
  milliseconds timeout{30000};
  std::vector<std::string> requests;
  bool from_stdin = true;
};

std::optional<long> ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The host file beside this program; empty when that directory is unknown.
std::string HostBesideThisProgram() {
  std::filesystem::path path;
  if (!Utf8ToPath(ExecutableDirectory(), path) || path.empty()) return {};
  path /= VORNETH_HOST_FILE_NAME;
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Parses the command line (`args` without the program's name); on error
// prints why and returns nullopt. Sets `help` when --help was given.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, bool& help) {
  Options options;
  bool options_done = false;
  const size_t argc = args.size();
  for (size_t i = 0; i < argc; ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.rfind("--", 0) != 0) {
      options.requests.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "--help") {
      help = true;
      return options;
    }
    const bool takes_value = arg == "--host" || arg == "--launcher" || arg == "--origin" || arg == "--wait-ms" ||
                             arg == "--settle-ms" || arg == "--timeout-ms";
    if (!takes_value) {
      std::cerr << "vorneth-cli: unknown option " << arg << " (see --help)\n";
      return std::nullopt;
    }
    if (i + 1 >= argc) {
      std::cerr << "vorneth-cli: " << arg << " needs a value\n";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (arg == "--host") {
      options.host = value;
    } else if (arg == "--launcher") {
      options.launcher.push_back(value);
    } else if (arg == "--origin") {
      options.origin = value;
    } else {
      const std::optional<long> count = ParseCount(value);
      if (!count || (arg == "--timeout-ms" && *count == 0)) {
        std::cerr << "vorneth-cli: " << arg << " needs a whole number of milliseconds"
                  << (arg == "--timeout-ms" ? " above 0" : "") << ", not '" << value << "'\n";
        return std::nullopt;
      }
      (arg == "--wait-ms"     ? options.wait
       : arg == "--settle-ms" ? options.settle
                              : options.timeout) = milliseconds(*count);
    }
  }
  options.from_stdin = options.requests.empty();
  if (options.host.empty()) {
    options.host = HostBesideThisProgram();
    if (options.host.empty()) {
      std::cerr << "vorneth-cli: cannot find the directory of this program; name the host with --host\n";
      return std::nullopt;
    }
  }
  return options;
}

// The requests, taken from the command line or, line by line, from standard
// input. Standard input is read on a thread of its own so that the host's
// output is printed while a person is still typing. What that thread fills
// is shared with it: a reader still blocked on standard input when the
// client ends is left behind, and must not find the lines gone.
class RequestSource {
 public:
  explicit RequestSource(const Options& options) {
    if (!options.from_stdin) {
      MutexLock lock(&m_shared->m_mutex);
      m_shared->m_lines.assign(options.requests.begin(), options.requests.end());
      m_shared->m_ended = true;
      return;
    }
    m_reader = std::thread([shared = m_shared] { ReadStandardInput(*shared); });
  }
  ~RequestSource() {
    if (!m_reader.joinable()) return;
    bool ended;
    {
      MutexLock lock(&m_shared->m_mutex);
      ended = m_shared->m_ended;
    }
    // A reader still blocked on standard input cannot be woken portably; it
    // ends with the process, holding its share of the lines.
    if (ended) {
      m_reader.join();
    } else {
      m_reader.detach();
    }
  }
  RequestSource(const RequestSource&) = delete;
  RequestSource& operator=(const RequestSource&) = delete;

  // The next request if one is ready.
  std::optional<std::string> Take() {
    MutexLock lock(&m_shared->m_mutex);
    if (m_shared->m_lines.empty()) return std::nullopt;
    std::string line = std::move(m_shared->m_lines.front());
    m_shared->m_lines.pop_front();
    return line;
  }
  // True when every request has been taken and no more will come.
  bool Exhausted() {
    MutexLock lock(&m_shared->m_mutex);
    return m_shared->m_ended && m_shared->m_lines.empty();
  }

 private:
  struct Lines {
    Mutex m_mutex;
    std::deque<std::string> m_lines GUARDED_BY(m_mutex);
    bool m_ended GUARDED_BY(m_mutex) = false;
  };

  static void ReadStandardInput(Lines& shared) {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      MutexLock lock(&shared.m_mutex);
      shared.m_lines.push_back(line);
    }
    MutexLock lock(&shared.m_mutex);
    shared.m_ended = true;
  }

  const std::shared_ptr<Lines> m_shared = std::make_shared<Lines>();
  std::thread m_reader;
};

// Reads the host's output and prints each whole frame as one line.
class OutputPrinter {
 public:
  explicit OutputPrinter(ChildProcess& host) : m_host(host) {}

  // Waits at most `timeout` for output and prints the frames it completes.
  // Returns the read status (kEndOfStream once the host closed its output).
  ReadStatus Pump(milliseconds timeout) {
    std::string bytes;
    const ReadStatus status = m_host.Read(bytes, timeout);
    if (status == ReadStatus::kData) {
      m_decoder.Append(bytes);
      while (std::optional<std::string> body = m_decoder.Next()) {
        std::fwrite(body->data(), 1, body->size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
      }
    }
    return status;
  }

  // Empty when the output so far consists of whole frames; otherwise what
  // is wrong with it.
  std::string Problem() const {
    if (m_decoder.failed()) {
      return "the host announced a frame of " + std::to_string(*m_decoder.pending_length()) +
             " bytes, more than any message can be";
    }
    if (m_decoder.buffered() == 0) return {};
    const std::optional<uint32_t> length = m_decoder.pending_length();
    if (!length) return "the host's output ended inside the 4 length bytes of a frame";
    return "the host's output ended inside a frame: " + std::to_string(m_decoder.buffered() - kFrameHeaderSize) +
           " of " + std::to_string(*length) + " bytes arrived";
  }

 private:
  ChildProcess& m_host;
  FrameDecoder m_decoder;
};

int Run(const Options& options) {
  ChildProcessOptions start;
  start.command = options.launcher;
  start.command.push_back(options.host);
  start.command.push_back(options.origin);
  ChildProcess host;
  if (!host.Start(start)) {
    std::cerr << "vorneth-cli: cannot start the host: " << host.error() << "\n";
    return kExitCannotStart;
  }
  OutputPrinter printer(host);
  RequestSource source(options);
  bool output_ended = false;
  bool send_failed = false;
  int timed_out = 0;

  // Sending: one request after the other, printing output in between.
  auto next_send = Clock::now();
  while (!output_ended && !source.Exhausted()) {
    const auto now = Clock::now();
    if (now < next_send) {
      output_ended = printer.Pump(std::chrono::duration_cast<milliseconds>(next_send - now) + milliseconds(1)) ==
                     ReadStatus::kEndOfStream;
      continue;
    }
    std::optional<std::string> request = source.Take();
    if (!request) {  // a person is still typing
      output_ended = printer.Pump(milliseconds(20)) == ReadStatus::kEndOfStream;
      continue;
    }
    if (!host.Write(EncodeFrame(*request), options.timeout)) {
      std::cerr << "vorneth-cli: cannot send a request: " << host.error() << "\n";
      send_failed = true;
      break;
    }
    next_send = Clock::now() + options.wait;
    output_ended = printer.Pump(milliseconds(0)) == ReadStatus::kEndOfStream;
  }
  // Honour the pause after the last request as well.
  while (!output_ended && !send_failed && Clock::now() < next_send) {
    const auto left = std::chrono::duration_cast<milliseconds>(next_send - Clock::now()) + milliseconds(1);
    output_ended = printer.Pump(left) == ReadStatus::kEndOfStream;
  }
  // Let the answers to the last requests come: page commands that the host
  // has taken but not started are dropped once its input ends.
  const auto settle_deadline = Clock::now() + options.timeout;
  auto last_data = Clock::now();
  while (!output_ended && !send_failed && Clock::now() - last_data < options.settle && Clock::now() < settle_deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(options.settle - (Clock::now() - last_data));
    const ReadStatus status = printer.Pump(left + milliseconds(1));
    if (status == ReadStatus::kData) last_data = Clock::now();
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) output_ended = true;
  }
  if (output_ended && !source.Exhausted()) {
    std::cerr << "vorneth-cli: the host closed its output before all requests were sent\n";
    send_failed = true;
  }

  // Draining: the host sees the end of its input and should finish.
  host.CloseInput();
  auto last_output = Clock::now();
  while (!output_ended) {
    const auto silent = Clock::now() - last_output;
    if (silent >= options.timeout) {
      timed_out = 1;
      break;
    }
    const ReadStatus status =
        printer.Pump(std::chrono::duration_cast<milliseconds>(options.timeout - silent) + milliseconds(1));
    if (status == ReadStatus::kData) last_output = Clock::now();
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) output_ended = true;
  }
  std::optional<int> exit_status;
  if (!timed_out) {
    exit_status = host.Wait(options.timeout);
    if (!exit_status) timed_out = 2;
  }
  if (timed_out) {
    std::cerr << "vorneth-cli: the host " << (timed_out == 1 ? "wrote nothing" : "closed its output but did not exit")
              << " for " << options.timeout.count() << " ms after its input was closed; stopping it\n";
    host.Kill();
    return kExitTimeout;
  }
  const std::string problem = printer.Problem();
  if (!problem.empty()) {
    std::cerr << "vorneth-cli: " << problem << "\n";
    return kExitBadStream;
  }
  if (*exit_status != 0) {
    std::cerr << "vorneth-cli: the host exited with status " << *exit_status << "\n";
    return *exit_status;
  }
  return send_failed ? 1 : 0;
}

}  // namespace
}  // namespace vorneth

int main(int argc, char** argv) {
  std::vector<std::string> arguments = vorneth::ProgramArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  bool help = false;
  const std::optional<vorneth::Options> options = vorneth::ParseOptions(arguments, help);
  if (help) {
    std::fputs(vorneth::kUsage, stdout);
    return 0;
  }
  if (!options) return vorneth::kExitUsage;
  return vorneth::Run(*options);
}
