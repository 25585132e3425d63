#include "session.h"

#include <chrono>
#include <iostream>
#include <optional>
#include <string>

#include "common/child_process.h"
#include "output_printer.h"
#include "request_source.h"
#include "requests.h"

namespace vorneth::cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// True, having said why, when request `number` (1-based) is not JSON and
// --raw does not let it through.
bool Refused(const std::string& request, size_t number, const Options& options) {
  if (options.m_raw) return false;
  const std::string problem = JsonProblem(request);
  if (problem.empty()) return false;
  std::cerr << "vorneth-cli: request " << number << " is not JSON: " << problem << " (--raw sends it as it is)\n";
  return true;
}

// The arguments' requests are all checked before the host is started.
bool ArgumentsRefused(const Options& options) {
  if (options.m_fromStdin) return false;
  for (size_t i = 0; i < options.m_requests.size(); ++i) {
    if (Refused(options.m_requests[i], i + 1, options)) return true;
  }
  return false;
}

// How the host ended once its input was closed.
enum class HostEnd {
  kExited,        // it closed its output and exited
  kWroteNothing,  // it wrote nothing for the time-out
  kDidNotExit,    // it closed its output but did not exit in time
};

// One run against a started host: the requests sent, what the host writes
// printed meanwhile, then its end awaited. Each step says where it stops.
class Conversation {
 public:
  Conversation(const Options& options, ChildProcess& host)
      : m_options(options), m_host(host), m_printer(host, options.m_pretty), m_source(options) {}

  // Sends the "Create" (with --create), then the requests, then lets the
  // answers to the last ones come.
  void Send() {
    if (!m_options.m_createUrl.empty()) SendCreate();
    SendRequests();
    // A refused request still lets the answers to those before it come.
    if (!m_sendFailed) {
      FinishLastPause();
      Settle();
    }
    if (m_outputEnded && !m_refused && !m_source.Exhausted()) {
      std::cerr << "vorneth-cli: the host closed its output before all requests were sent\n";
      m_sendFailed = true;
    }
  }

  // Closes the host's input, prints what still comes and waits for the
  // host to exit.
  HostEnd Drain() {
    m_host.CloseInput();
    if (!DrainOutput()) return HostEnd::kWroteNothing;
    m_hostStatus = m_host.Wait(m_options.m_timeout);
    return m_hostStatus ? HostEnd::kExited : HostEnd::kDidNotExit;
  }

  // The client's exit status for a host that ended so, having said why
  // when it is not 0.
  int ExitStatus(HostEnd end) {
    if (end != HostEnd::kExited) return TimedOut(end);
    const std::string problem = m_printer.Problem();
    if (!problem.empty()) {
      std::cerr << "vorneth-cli: " << problem << "\n";
      return kExitBadStream;
    }
    if (*m_hostStatus != 0) {
      std::cerr << "vorneth-cli: the host exited with status " << *m_hostStatus << "\n";
      return *m_hostStatus;
    }
    if (m_refused) return kExitUsage;
    return m_sendFailed ? 1 : 0;
  }

 private:
  void SendCreate() {
    if (!m_host.Write(EncodeFrame(CreateRequest(m_options.m_createUrl)), m_options.m_timeout)) {
      std::cerr << "vorneth-cli: cannot send the \"Create\": " << m_host.error() << "\n";
      m_sendFailed = true;
    }
  }

  // One request after the other, --wait-ms apart, printing output in
  // between; stops at the first that is refused or cannot be sent.
  void SendRequests() {
    while (!m_outputEnded && !m_sendFailed && !m_refused && !m_source.Exhausted()) {
      const auto now = Clock::now();
      if (now < m_nextSend) {
        PumpWhileSending(std::chrono::duration_cast<milliseconds>(m_nextSend - now) + milliseconds(1));
        continue;
      }
      std::optional<std::string> request = m_source.Take();
      if (!request) {  // a person is still typing
        PumpWhileSending(milliseconds(20));
        continue;
      }
      SendRequest(*request);
    }
  }

  void SendRequest(const std::string& request) {
    if (Refused(request, ++m_number, m_options)) {
      m_refused = true;
      return;
    }
    if (!m_host.Write(EncodeFrame(request), m_options.m_timeout)) {
      std::cerr << "vorneth-cli: cannot send a request: " << m_host.error() << "\n";
      m_sendFailed = true;
      return;
    }
    m_nextSend = Clock::now() + m_options.m_wait;
    PumpWhileSending(milliseconds(0));
  }

  // Honours --wait-ms after the last request as well.
  void FinishLastPause() {
    while (!m_outputEnded && Clock::now() < m_nextSend) {
      PumpWhileSending(std::chrono::duration_cast<milliseconds>(m_nextSend - Clock::now()) + milliseconds(1));
    }
  }

  // Keeps the host's input open until it has been quiet for --settle-ms:
  // page commands that it has taken but not started are dropped once its
  // input ends.
  void Settle() {
    const auto deadline = Clock::now() + m_options.m_timeout;
    auto last_data = Clock::now();
    while (!m_outputEnded && Clock::now() - last_data < m_options.m_settle && Clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<milliseconds>(m_options.m_settle - (Clock::now() - last_data));
      if (Pump(left + milliseconds(1)) == ReadStatus::kData) last_data = Clock::now();
    }
  }

  // Prints the rest of the output; false when the host wrote nothing for
  // the time-out before closing it.
  bool DrainOutput() {
    auto last_output = Clock::now();
    while (!m_outputEnded) {
      const auto silent = Clock::now() - last_output;
      if (silent >= m_options.m_timeout) return false;
      if (Pump(std::chrono::duration_cast<milliseconds>(m_options.m_timeout - silent) + milliseconds(1)) ==
          ReadStatus::kData) {
        last_output = Clock::now();
      }
    }
    return true;
  }

  int TimedOut(HostEnd end) {
    std::cerr << "vorneth-cli: the host "
              << (end == HostEnd::kWroteNothing ? "wrote nothing" : "closed its output but did not exit") << " for "
              << m_options.m_timeout.count() << " ms after its input was closed; stopping it\n";
    m_host.Kill();
    return kExitTimeout;
  }

  // Prints what arrives within `timeout`. While sending, only the end of
  // the host's output ends it; afterwards (Pump) a read error does too.
  void PumpWhileSending(milliseconds timeout) {
    if (m_printer.Pump(timeout) == ReadStatus::kEndOfStream) m_outputEnded = true;
  }
  ReadStatus Pump(milliseconds timeout) {
    const ReadStatus status = m_printer.Pump(timeout);
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) m_outputEnded = true;
    return status;
  }

  const Options& m_options;
  ChildProcess& m_host;
  OutputPrinter m_printer;
  RequestSource m_source;
  bool m_outputEnded = false;
  bool m_sendFailed = false;
  bool m_refused = false;
  size_t m_number = 0;  // of the requests taken so far
  Clock::time_point m_nextSend = Clock::now();
  std::optional<int> m_hostStatus;
};

bool StartHost(const Options& options, ChildProcess& host) {
  ChildProcessOptions start;
  start.command = options.m_launcher;
  start.command.push_back(options.m_host);
  start.command.push_back(options.m_origin);
  if (host.Start(start)) return true;
  std::cerr << "vorneth-cli: cannot start the host: " << host.error() << "\n";
  return false;
}

}  // namespace

int Run(const Options& options) {
  if (ArgumentsRefused(options)) return kExitUsage;
  ChildProcess host;
  if (!StartHost(options, host)) return kExitCannotStart;
  Conversation conversation(options, host);
  conversation.Send();
  const HostEnd end = conversation.Drain();
  return conversation.ExitStatus(end);
}

}  // namespace vorneth::cli
