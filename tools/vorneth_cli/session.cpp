#include "session.h"

#include <chrono>
#include <iostream>
#include <optional>
#include <string>

#include "output_printer.h"
#include "common/child_process.h"
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

}  // namespace

int Run(const Options& options) {
  if (ArgumentsRefused(options)) return kExitUsage;
  ChildProcessOptions start;
  start.command = options.m_launcher;
  start.command.push_back(options.m_host);
  start.command.push_back(options.m_origin);
  ChildProcess host;
  if (!host.Start(start)) {
    std::cerr << "vorneth-cli: cannot start the host: " << host.error() << "\n";
    return kExitCannotStart;
  }
  OutputPrinter printer(host, options.m_pretty);
  RequestSource source(options);
  bool output_ended = false;
  bool send_failed = false;
  bool refused = false;
  size_t number = 0;  // of the requests taken so far
  int timed_out = 0;

  if (!options.m_createUrl.empty() && !host.Write(EncodeFrame(CreateRequest(options.m_createUrl)), options.m_timeout)) {
    std::cerr << "vorneth-cli: cannot send the \"Create\": " << host.error() << "\n";
    send_failed = true;
  }

  // Sending: one request after the other, printing output in between.
  auto next_send = Clock::now();
  while (!output_ended && !send_failed && !source.Exhausted()) {
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
    if (Refused(*request, ++number, options)) {
      refused = true;
      break;
    }
    if (!host.Write(EncodeFrame(*request), options.m_timeout)) {
      std::cerr << "vorneth-cli: cannot send a request: " << host.error() << "\n";
      send_failed = true;
      break;
    }
    next_send = Clock::now() + options.m_wait;
    output_ended = printer.Pump(milliseconds(0)) == ReadStatus::kEndOfStream;
  }
  // Honour the pause after the last request as well.
  // A refused request still lets the answers to those before it come.
  const bool sending_ended = send_failed;
  while (!output_ended && !sending_ended && Clock::now() < next_send) {
    const auto left = std::chrono::duration_cast<milliseconds>(next_send - Clock::now()) + milliseconds(1);
    output_ended = printer.Pump(left) == ReadStatus::kEndOfStream;
  }
  // Let the answers to the last requests come: page commands that the host
  // has taken but not started are dropped once its input ends.
  const auto settle_deadline = Clock::now() + options.m_timeout;
  auto last_data = Clock::now();
  while (!output_ended && !sending_ended && Clock::now() - last_data < options.m_settle &&
         Clock::now() < settle_deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(options.m_settle - (Clock::now() - last_data));
    const ReadStatus status = printer.Pump(left + milliseconds(1));
    if (status == ReadStatus::kData) last_data = Clock::now();
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) output_ended = true;
  }
  if (output_ended && !refused && !source.Exhausted()) {
    std::cerr << "vorneth-cli: the host closed its output before all requests were sent\n";
    send_failed = true;
  }

  // Draining: the host sees the end of its input and should finish.
  host.CloseInput();
  auto last_output = Clock::now();
  while (!output_ended) {
    const auto silent = Clock::now() - last_output;
    if (silent >= options.m_timeout) {
      timed_out = 1;
      break;
    }
    const ReadStatus status =
        printer.Pump(std::chrono::duration_cast<milliseconds>(options.m_timeout - silent) + milliseconds(1));
    if (status == ReadStatus::kData) last_output = Clock::now();
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) output_ended = true;
  }
  std::optional<int> exit_status;
  if (!timed_out) {
    exit_status = host.Wait(options.m_timeout);
    if (!exit_status) timed_out = 2;
  }
  if (timed_out) {
    std::cerr << "vorneth-cli: the host " << (timed_out == 1 ? "wrote nothing" : "closed its output but did not exit")
              << " for " << options.m_timeout.count() << " ms after its input was closed; stopping it\n";
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
  if (refused) return kExitUsage;
  return send_failed ? 1 : 0;
}

}  // namespace vorneth::cli
