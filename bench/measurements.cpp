#include "measurements.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "host_run.h"
#include "page_session.h"

namespace vorneth::bench {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kBrowserArgument[] = "chrome-extension://bench/";
constexpr size_t kLargeParamBytes = 1 << 20;
// Idle figures start counting this long after the answer was read, so that
// a host still returning from its write is not counted as awake.
constexpr milliseconds kSettle{100};

Samples Failed(const std::string& why) {
  return {{}, why, {}};
}

Samples One(double value) {
  return {{value}, {}, {}};
}

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

std::vector<std::string> HostCommand(const HostProgram& program) {
  return {program.m_path, kBrowserArgument};
}

// Requests per second over `batches` batches of `per_batch` requests, after
// a warm-up of a tenth as many; on one CPU when `pinned`.
Samples MeasureRate(const HostProgram& program, long batches, long per_batch, bool pinned) {
  std::optional<CpuPin> pin;
  if (pinned && !pin.emplace().pinned()) return Failed("cannot pin the driver to one CPU");
  PageSession session;
  if (!session.Open(HostCommand(program)) || !session.Run(session.Plan(batches / 10 + 1, per_batch))) {
    return Failed(session.error());
  }
  const std::vector<RequestBatch> plan = session.Plan(batches, per_batch);
  const auto start = Clock::now();
  if (!session.Run(plan)) return Failed(session.error());
  const double seconds = Milliseconds(Clock::now() - start) / 1000.0;
  if (!session.Finish()) return Failed(session.error());
  return One(static_cast<double>(batches * per_batch) / seconds);
}

// The instruction total of a callgrind output file (its "totals:" line,
// else its "summary:" line); nullopt when it has neither.
std::optional<double> CallgrindTotal(const std::string& path) {
  std::ifstream file(path);
  std::optional<double> summary;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("totals:")) return std::strtod(line.c_str() + 7, nullptr);
    if (line.starts_with("summary:")) summary = std::strtod(line.c_str() + 8, nullptr);
  }
  return summary;
}

// Instructions of every thread of a host run under callgrind that answers
// `count` ping-pong requests after the opening one.
std::optional<double> CountInstructions(const HostProgram& program, const Settings& settings, long count,
                                        std::string& error) {
  PageSession session;
  if (!session.Prepare()) {
    error = session.error();
    return std::nullopt;
  }
  const std::string output = session.run().folder() + "/callgrind.out";
  const std::vector<std::string> command = {settings.m_valgrind, "--tool=callgrind", "--callgrind-out-file=" + output,
                                            program.m_path, kBrowserArgument};
  if (!session.Open(command) || !session.Run(session.Plan(count, 1)) || !session.Finish()) {
    error = session.error();
    return std::nullopt;
  }
  std::optional<double> total = CallgrindTotal(output);
  if (!total) error = "callgrind wrote no instruction total to " + output;
  return total;
}

// Voluntary and involuntary context switches of a pinned host (all its
// threads) that answers `count` ping-pong requests.
std::optional<long> ContextSwitches(const HostProgram& program, long count, std::string& error) {
  CpuPin pin;
  PageSession session;
  if (!pin.pinned()) {
    error = "cannot pin the driver to one CPU";
    return std::nullopt;
  }
  if (!session.Open(HostCommand(program)) || !session.Run(session.Plan(count, 1)) || !session.Finish()) {
    error = session.error();
    return std::nullopt;
  }
  return session.run().usage().ru_nvcsw + session.run().usage().ru_nivcsw;
}

// How far `count` (a reading of the host from /proc, named `what` in the
// error) moves while the host waits for input after one answer.
template <typename Count>
Samples IdleGrowth(const HostProgram& program, const Settings& settings, const char* what, Count count) {
  PageSession session;
  if (!session.Open(HostCommand(program))) return Failed(session.error());
  std::this_thread::sleep_for(kSettle);
  const auto before = count(session.run());
  std::this_thread::sleep_for(settings.m_sizes.m_idle);
  const auto after = count(session.run());
  if (!before || !after) return Failed(std::string("cannot read the host's ") + what + " from /proc");
  if (!session.Finish()) return Failed(session.error());
  return One(static_cast<double>(*after - *before));
}

// One reading of `count` from a host that waits for input after one answer.
template <typename Count>
Samples IdleReading(const HostProgram& program, const char* what, Count count) {
  PageSession session;
  if (!session.Open(HostCommand(program))) return Failed(session.error());
  std::this_thread::sleep_for(kSettle);
  const auto value = count(session.run());
  if (!value) return Failed(std::string("cannot read the host's ") + what + " from /proc");
  if (!session.Finish()) return Failed(session.error());
  return One(static_cast<double>(*value));
}

// CPU time the host uses while it waits for input after one answer.
Samples IdleCpu(const HostProgram& program, const Settings& settings, bool pinned) {
  std::optional<CpuPin> pin;
  if (pinned && !pin.emplace().pinned()) return Failed("cannot pin the driver to one CPU");
  return IdleGrowth(program, settings, "CPU time", [](HostRun& run) { return run.CpuMilliseconds(); });
}

// `bytes` ASCII letters, lower and upper case.
std::string Letters(size_t bytes) {
  std::string letters(bytes, 'a');
  for (size_t i = 0; i < letters.size(); ++i) letters[i] = static_cast<char>((i % 2 ? 'a' : 'A') + i % 26);
  return letters;
}

}  // namespace

Samples PingPongPinned(const HostProgram& program, const Settings& settings) {
  return MeasureRate(program, settings.m_sizes.m_pingPong, 1, true);
}

Samples PipelinedPinned(const HostProgram& program, const Settings& settings) {
  return MeasureRate(program, settings.m_sizes.m_pipelinedBatches, kMaxBatch, true);
}

Samples PipelinedUnpinned(const HostProgram& program, const Settings& settings) {
  return MeasureRate(program, settings.m_sizes.m_pipelinedBatches, kMaxBatch, false);
}

// Two runs differing only in their request count: start-up cancels out.
Samples InstructionsPerRequest(const HostProgram& program, const Settings& settings) {
  if (settings.m_valgrind.empty()) return {{}, {}, "valgrind not found: install it (apt-get install valgrind)"};
  const Sizes& sizes = settings.m_sizes;
  std::string error;
  const std::optional<double> fewer = CountInstructions(program, settings, sizes.m_instructionsShort, error);
  if (!fewer) return Failed(error);
  const std::optional<double> more = CountInstructions(program, settings, sizes.m_instructionsLong, error);
  if (!more) return Failed(error);
  return One((*more - *fewer) / static_cast<double>(sizes.m_instructionsLong - sizes.m_instructionsShort));
}

// The time from the first byte written to the answer read, per request.
Samples LargeRoundTrip(const HostProgram& program, const Settings& settings) {
  const std::string params = "[\"" + Letters(kLargeParamBytes) + "\"]";
  PageSession session;
  if (!session.Open(HostCommand(program))) return Failed(session.error());
  Samples samples;
  for (int i = 0; i < settings.m_sizes.m_largePerRun; ++i) {
    const std::vector<RequestBatch> one = session.Plan(1, 1, params);
    const auto start = Clock::now();
    if (!session.Run(one)) return Failed(session.error());
    samples.m_values.push_back(Milliseconds(Clock::now() - start));
  }
  if (!session.Finish()) return Failed(session.error());
  return samples;
}

namespace {

// One start of `session`'s host: spawn, Create and GetVersion in one
// write, first answer read; the time to it goes into `samples`.
bool TimeStart(PageSession& session, const HostProgram& program, Samples& samples) {
  if (!session.Open(HostCommand(program))) return false;
  samples.m_values.push_back(Milliseconds(Clock::now() - session.run().started_at()));
  return session.Finish();
}

}  // namespace

// Every start is measured on the data folder an unmeasured first start
// left, as every start but a user's very first finds it.
Samples ColdStart(const HostProgram& program, const Settings& settings) {
  PageSession session;
  Samples unmeasured, samples;
  if (!TimeStart(session, program, unmeasured)) return Failed(session.error());
  for (int i = 0; i < settings.m_sizes.m_coldPerRun; ++i) {
    if (!TimeStart(session, program, samples)) return Failed(session.error());
  }
  return samples;
}

// Each start on a new, empty data folder: a user's first start, when the
// host makes its folder.
Samples FirstStart(const HostProgram& program, const Settings& settings) {
  Samples samples;
  for (int i = 0; i < settings.m_sizes.m_coldPerRun; ++i) {
    PageSession session;
    if (!TimeStart(session, program, samples)) return Failed(session.error());
  }
  return samples;
}

Samples SwitchesPerRequest(const HostProgram& program, const Settings& settings) {
  const Sizes& sizes = settings.m_sizes;
  std::string error;
  const std::optional<long> fewer = ContextSwitches(program, sizes.m_switchesShort, error);
  if (!fewer) return Failed(error);
  const std::optional<long> more = ContextSwitches(program, sizes.m_switchesLong, error);
  if (!more) return Failed(error);
  return One(static_cast<double>(*more - *fewer) / static_cast<double>(sizes.m_switchesLong - sizes.m_switchesShort));
}

// Wake-ups of the host's threads while it waits for input after one
// answer: the CPU time above is counted in clock ticks and can miss short
// ones.
Samples IdleWakeups(const HostProgram& program, const Settings& settings) {
  return IdleGrowth(program, settings, "context switches", [](HostRun& run) { return run.LiveContextSwitches(); });
}

Samples SharedObjectsIdle(const HostProgram& program, const Settings&) {
  return IdleReading(program, "mapped files", [](HostRun& run) { return run.MappedSharedObjects(); });
}

Samples PrivateDirtyIdle(const HostProgram& program, const Settings&) {
  return IdleReading(program, "memory", [](HostRun& run) { return run.PrivateDirtyKiB(); });
}

Samples IdleCpuPinned(const HostProgram& program, const Settings& settings) {
  return IdleCpu(program, settings, true);
}

Samples IdleCpuUnpinned(const HostProgram& program, const Settings& settings) {
  return IdleCpu(program, settings, false);
}

}  // namespace vorneth::bench
