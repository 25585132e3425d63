// host_vs_minimal: every speed figure of vorneth-host beside the same figure
// of the minimal host (bench/minimal_host.cpp), measured in one run and
// printed as one table with the ratio host/minimal and its target.
//
//   host_vs_minimal [--quick] [--only <figure>]
//
// The host is the one of this build unless VORNETH_HOST_UNDER_TEST names
// another; the minimal host is the one beside this program. Every figure is
// for "GetVersion" page requests after one "Create" (see page_session.h,
// which also checks every answer). Each scenario alternates the two hosts
// round by round, the order switching every round, each run in a fresh
// process with a fresh data folder, so that both see the same machine; a
// figure is the median of all its samples, and the ratio's range over the
// rounds shows how steady it was.
//
// The exit status is 0 when every figure was measured (targets are
// reported, not enforced), 1 when a host could not be driven, 2 for a bad
// command line. Linux only.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host_run.h"
#include "page_session.h"

namespace vorneth::bench {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kBrowserArgument[] = "chrome-extension://bench/";
constexpr char kReproduce[] = "tools/dev.sh bench";
constexpr size_t kLargeParamBytes = 1 << 20;
// Idle figures start counting this long after the answer was read, so that
// a host still returning from its write is not counted as awake.
constexpr milliseconds kSettle{100};

struct HostProgram {
  std::string m_label;
  std::string m_path;
};

// How much each run of a scenario does; a smoke run (--quick) does less.
struct Sizes {
  long m_instructionsShort;  // ping-pong requests of the two callgrind runs
  long m_instructionsLong;
  long m_pingPong;          // timed round trips
  long m_pipelinedBatches;  // timed batches of kMaxBatch
  int m_largePerRun;        // 1 MiB round trips
  int m_coldPerRun;         // spawns
  long m_switchesShort;     // ping-pong requests of the two counted runs
  long m_switchesLong;
  milliseconds m_idle;
};

constexpr Sizes kFullSizes = {300, 2300, 20000, 700, 6, 4, 1000, 6000, milliseconds(2000)};
constexpr Sizes kQuickSizes = {100, 600, 2000, 70, 2, 2, 200, 1200, milliseconds(500)};

struct Settings {
  Sizes m_sizes = kFullSizes;
  bool m_quick = false;
  std::string m_valgrind;  // empty when it is not installed
};

// What one run of a scenario gave for one host: samples, or why none.
struct Samples {
  std::vector<double> m_values;
  std::string m_error;    // the host could not be driven
  std::string m_skipped;  // the scenario cannot run on this machine
};

Samples Failed(const std::string& why) {
  return {{}, why, {}};
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
  return {{static_cast<double>(batches * per_batch) / seconds}, {}, {}};
}

Samples PingPongPinned(const HostProgram& program, const Settings& settings) {
  return MeasureRate(program, settings.m_sizes.m_pingPong, 1, true);
}

Samples PipelinedPinned(const HostProgram& program, const Settings& settings) {
  return MeasureRate(program, settings.m_sizes.m_pipelinedBatches, kMaxBatch, true);
}

Samples PipelinedUnpinned(const HostProgram& program, const Settings& settings) {
  return MeasureRate(program, settings.m_sizes.m_pipelinedBatches, kMaxBatch, false);
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

// Two runs differing only in their request count: start-up cancels out.
Samples InstructionsPerRequest(const HostProgram& program, const Settings& settings) {
  if (settings.m_valgrind.empty()) return {{}, {}, "valgrind not found: install it (apt-get install valgrind)"};
  const Sizes& sizes = settings.m_sizes;
  std::string error;
  const std::optional<double> fewer = CountInstructions(program, settings, sizes.m_instructionsShort, error);
  if (!fewer) return Failed(error);
  const std::optional<double> more = CountInstructions(program, settings, sizes.m_instructionsLong, error);
  if (!more) return Failed(error);
  return {{(*more - *fewer) / static_cast<double>(sizes.m_instructionsLong - sizes.m_instructionsShort)}, {}, {}};
}

// The time from the first byte written to the answer read, per request.
Samples LargeRoundTrip(const HostProgram& program, const Settings& settings) {
  std::string letters(kLargeParamBytes, 'a');
  for (size_t i = 0; i < letters.size(); ++i) letters[i] = static_cast<char>((i % 2 ? 'a' : 'A') + i % 26);
  const std::string params = "[\"" + letters + "\"]";
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

// Spawn, Create and GetVersion in one write, first answer read.
Samples ColdStart(const HostProgram& program, const Settings& settings) {
  Samples samples;
  for (int i = 0; i < settings.m_sizes.m_coldPerRun; ++i) {
    PageSession session;
    if (!session.Open(HostCommand(program))) return Failed(session.error());
    samples.m_values.push_back(Milliseconds(Clock::now() - session.run().started_at()));
    if (!session.Finish()) return Failed(session.error());
  }
  return samples;
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

Samples SwitchesPerRequest(const HostProgram& program, const Settings& settings) {
  const Sizes& sizes = settings.m_sizes;
  std::string error;
  const std::optional<long> fewer = ContextSwitches(program, sizes.m_switchesShort, error);
  if (!fewer) return Failed(error);
  const std::optional<long> more = ContextSwitches(program, sizes.m_switchesLong, error);
  if (!more) return Failed(error);
  return {{static_cast<double>(*more - *fewer) / static_cast<double>(sizes.m_switchesLong - sizes.m_switchesShort)},
          {},
          {}};
}

// CPU time the host uses while it waits for input after one answer.
Samples IdleCpu(const HostProgram& program, const Settings& settings, bool pinned) {
  std::optional<CpuPin> pin;
  if (pinned && !pin.emplace().pinned()) return Failed("cannot pin the driver to one CPU");
  PageSession session;
  if (!session.Open(HostCommand(program))) return Failed(session.error());
  std::this_thread::sleep_for(kSettle);
  const std::optional<double> before = session.run().CpuMilliseconds();
  std::this_thread::sleep_for(settings.m_sizes.m_idle);
  const std::optional<double> after = session.run().CpuMilliseconds();
  if (!before || !after) return Failed("cannot read the host's CPU time from /proc");
  if (!session.Finish()) return Failed(session.error());
  return {{*after - *before}, {}, {}};
}

// Wake-ups of the host's threads while it waits for input after one
// answer: the CPU time above is counted in clock ticks and can miss short
// ones.
Samples IdleWakeups(const HostProgram& program, const Settings& settings) {
  PageSession session;
  if (!session.Open(HostCommand(program))) return Failed(session.error());
  std::this_thread::sleep_for(kSettle);
  const std::optional<long> before = session.run().LiveContextSwitches();
  std::this_thread::sleep_for(settings.m_sizes.m_idle);
  const std::optional<long> after = session.run().LiveContextSwitches();
  if (!before || !after) return Failed("cannot read the host's context switches from /proc");
  if (!session.Finish()) return Failed(session.error());
  return {{static_cast<double>(*after - *before)}, {}, {}};
}

Samples IdleCpuPinned(const HostProgram& program, const Settings& settings) {
  return IdleCpu(program, settings, true);
}

Samples IdleCpuUnpinned(const HostProgram& program, const Settings& settings) {
  return IdleCpu(program, settings, false);
}

// How a figure is judged.
enum class Aim {
  kRatioAtLeast,  // host/minimal at least the target (rates)
  kRatioAtMost,   // host/minimal at most the target (costs, times)
  kHostZero,      // the host's figure is 0
  kShown,         // no target
};

struct Scenario {
  const char* m_key;  // for --only
  const char* m_figure;
  int m_decimals;
  Aim m_aim;
  double m_target;
  int m_rounds;
  int m_quickRounds;
  Samples (*m_measure)(const HostProgram&, const Settings&);
};

constexpr Scenario kScenarios[] = {
    {"instructions", "instructions per request", 0, Aim::kRatioAtMost, 0.3, 1, 1, &InstructionsPerRequest},
    {"ping-pong", "ping-pong rate, pinned (req/s)", 0, Aim::kRatioAtLeast, 0.9, 7, 2, &PingPongPinned},
    {"pipelined-pinned", "pipelined rate, pinned (req/s)", 0, Aim::kRatioAtLeast, 1.1, 7, 2, &PipelinedPinned},
    {"pipelined", "pipelined rate, unpinned (req/s)", 0, Aim::kRatioAtLeast, 1.5, 7, 2, &PipelinedUnpinned},
    {"large", "1 MiB request round trip (ms)", 2, Aim::kRatioAtMost, 0.25, 5, 1, &LargeRoundTrip},
    {"cold-start", "cold start (ms)", 2, Aim::kRatioAtMost, 1.2, 5, 1, &ColdStart},
    {"switches", "context switches per request, pinned", 2, Aim::kShown, 0, 3, 1, &SwitchesPerRequest},
    {"idle-pinned", "idle CPU over 2 s, pinned (ms)", 0, Aim::kHostZero, 0, 1, 1, &IdleCpuPinned},
    {"idle", "idle CPU over 2 s, unpinned (ms)", 0, Aim::kHostZero, 0, 1, 1, &IdleCpuUnpinned},
    {"idle-wakeups", "idle wake-ups over 2 s, unpinned", 0, Aim::kShown, 0, 1, 1, &IdleWakeups},
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Both hosts' samples of one scenario.
struct Figure {
  std::vector<double> m_host, m_minimal;  // every sample
  std::vector<double> m_roundRatios;      // median ratio of each round
  std::string m_error, m_skipped;
};

// Rounds of host and minimal host, the first of each round alternating.
Figure MeasureFigure(const Scenario& scenario, const HostProgram (&programs)[2], const Settings& settings) {
  Figure figure;
  const int rounds = settings.m_quick ? scenario.m_quickRounds : scenario.m_rounds;
  for (int round = 0; round < rounds; ++round) {
    double medians[2] = {0, 0};
    for (int turn = 0; turn < 2; ++turn) {
      const int which = (round + turn) % 2;
      Samples samples = scenario.m_measure(programs[which], settings);
      if (!samples.m_skipped.empty()) figure.m_skipped = samples.m_skipped;
      if (!samples.m_error.empty()) figure.m_error = programs[which].m_label + ": " + samples.m_error;
      if (!samples.m_skipped.empty() || !samples.m_error.empty()) return figure;
      medians[which] = Median(samples.m_values);
      std::vector<double>& all = which == 0 ? figure.m_host : figure.m_minimal;
      all.insert(all.end(), samples.m_values.begin(), samples.m_values.end());
    }
    if (medians[1] != 0) figure.m_roundRatios.push_back(medians[0] / medians[1]);
  }
  return figure;
}

std::string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string TargetText(const Scenario& scenario) {
  switch (scenario.m_aim) {
    case Aim::kRatioAtLeast:
      return ">= " + Number(scenario.m_target, 2);
    case Aim::kRatioAtMost:
      return "<= " + Number(scenario.m_target, 2);
    case Aim::kHostZero:
      return "host 0";
    case Aim::kShown:
      return "shown";
  }
  return "";
}

std::string Verdict(const Scenario& scenario, double host, double ratio) {
  switch (scenario.m_aim) {
    case Aim::kRatioAtLeast:
      return ratio >= scenario.m_target ? "meets" : "MISSES";
    case Aim::kRatioAtMost:
      return ratio <= scenario.m_target ? "meets" : "MISSES";
    case Aim::kHostZero:
      return host == 0 ? "meets" : "MISSES";
    case Aim::kShown:
      return "-";
  }
  return "";
}

void PrintRow(const std::string& figure, const std::string& host, const std::string& minimal, const std::string& ratio,
              const std::string& range, const std::string& target, const std::string& verdict) {
  std::printf("%-38s %14s %14s %7s %13s %8s  %s\n", figure.c_str(), host.c_str(), minimal.c_str(), ratio.c_str(),
              range.c_str(), target.c_str(), verdict.c_str());
}

void PrintFigure(const Scenario& scenario, const Figure& figure) {
  if (!figure.m_skipped.empty() || !figure.m_error.empty()) {
    const std::string why = figure.m_skipped.empty() ? "could not be measured (see below)" : figure.m_skipped;
    std::printf("%-38s %s\n", scenario.m_figure, why.c_str());
    return;
  }
  const double host = Median(figure.m_host);
  const double minimal = Median(figure.m_minimal);
  const bool has_ratio = minimal != 0;
  const double ratio = has_ratio ? host / minimal : 0;
  std::string range = "-";
  if (figure.m_roundRatios.size() > 1) {
    const auto [low, high] = std::minmax_element(figure.m_roundRatios.begin(), figure.m_roundRatios.end());
    range = Number(*low, 2) + "-" + Number(*high, 2);
  }
  PrintRow(scenario.m_figure, Number(host, scenario.m_decimals), Number(minimal, scenario.m_decimals),
           has_ratio ? Number(ratio, 2) : "-", range, TargetText(scenario), Verdict(scenario, host, ratio));
}

// The full path of `name` in PATH; empty when it is not there.
std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): one thread
  std::string_view folders = path != nullptr ? path : "";
  while (!folders.empty()) {
    const size_t colon = std::min(folders.find(':'), folders.size());
    std::string candidate = std::string(folders.substr(0, colon)) + "/" + name;
    if (colon > 0 && access(candidate.c_str(), X_OK) == 0) return candidate;
    folders.remove_prefix(std::min(colon + 1, folders.size()));
  }
  return "";
}

HostProgram HostUnderTest() {
  const char* override_path = std::getenv("VORNETH_HOST_UNDER_TEST");  // NOLINT(concurrency-mt-unsafe): one thread
  const bool overridden = override_path != nullptr && *override_path != '\0';
  return {"host", overridden ? override_path : VORNETH_HOST_PATH};
}

HostProgram MinimalHost() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return {"minimal host", (self.parent_path() / "minimal_host").string()};
}

struct Options {
  bool m_quick = false;
  std::string m_only;
};

void PrintUsage() {
  std::fprintf(stderr, "usage: host_vs_minimal [--quick] [--only <figure>]\nfigures:");
  for (const Scenario& scenario : kScenarios) std::fprintf(stderr, " %s", scenario.m_key);
  std::fprintf(stderr, "\n");
}

// False for a command line this program does not take.
bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--quick") {
      options.m_quick = true;
    } else if (word == "--only" && i + 1 < argc) {
      options.m_only = argv[++i];
    } else {
      return false;
    }
  }
  if (options.m_only.empty()) return true;
  return std::any_of(std::begin(kScenarios), std::end(kScenarios),
                     [&](const Scenario& scenario) { return options.m_only == scenario.m_key; });
}

void PrintHeader(const HostProgram (&programs)[2], const Settings& settings) {
  std::printf("Host under test against the minimal host: \"GetVersion\" page requests\n");
  std::printf("reproduce with: %s   (or: build-bench/bin/host_vs_minimal [--quick] [--only <figure>])\n", kReproduce);
  std::printf("host:         %s\n", programs[0].m_path.c_str());
  std::printf("minimal host: %s\n", programs[1].m_path.c_str());
  const CpuPin probe;
  std::printf("%ld CPUs online; pinned figures run driver and host on CPU %d; medians over alternating rounds%s\n",
              sysconf(_SC_NPROCESSORS_ONLN), probe.cpu(), settings.m_quick ? " (--quick: fewer, smaller rounds)" : "");
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3) {
    std::printf("load average before the run: %.2f %.2f %.2f (other work on the machine shifts every figure)\n\n",
                load[0], load[1], load[2]);
  }
  std::fflush(stdout);  // before the progress lines on standard error
}

bool Executable(const HostProgram& program) {
  if (access(program.m_path.c_str(), X_OK) == 0) return true;
  std::fprintf(stderr, "host_vs_minimal: the %s %s is not an executable file\n", program.m_label.c_str(),
               program.m_path.c_str());
  return false;
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage();
    return 2;
  }
  // A host that ends early must fail a write, not end the driver.
  signal(SIGPIPE, SIG_IGN);
  const HostProgram programs[2] = {HostUnderTest(), MinimalHost()};
  if (!Executable(programs[0]) || !Executable(programs[1])) return 1;
  Settings settings;
  settings.m_quick = options.m_quick;
  settings.m_sizes = options.m_quick ? kQuickSizes : kFullSizes;
  settings.m_valgrind = FindInPath("valgrind");
  PrintHeader(programs, settings);

  const auto started = Clock::now();
  std::vector<std::string> errors;
  std::vector<std::pair<const Scenario*, Figure>> figures;
  for (const Scenario& scenario : kScenarios) {
    if (!options.m_only.empty() && options.m_only != scenario.m_key) continue;
    std::fprintf(stderr, "measuring: %s ... ", scenario.m_figure);
    const auto scenario_started = Clock::now();
    figures.emplace_back(&scenario, MeasureFigure(scenario, programs, settings));
    std::fprintf(stderr, "%.1f s\n", Milliseconds(Clock::now() - scenario_started) / 1000.0);
    if (!figures.back().second.m_error.empty())
      errors.push_back(scenario.m_figure + (": " + figures.back().second.m_error));
  }
  PrintRow("figure", "host", "minimal host", "ratio", "ratio range", "target", "");
  for (const auto& [scenario, figure] : figures) PrintFigure(*scenario, figure);
  std::printf("\n(ratio = host / minimal host; the range spans the rounds' own ratios; run took %.0f s)\n",
              Milliseconds(Clock::now() - started) / 1000.0);
  for (const std::string& error : errors) std::printf("FAILED %s\n", error.c_str());
  return errors.empty() ? 0 : 1;
}

}  // namespace

}  // namespace vorneth::bench

int main(int argc, char** argv) {
  return vorneth::bench::Main(argc, argv);
}
