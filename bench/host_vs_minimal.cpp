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
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_run.h"
#include "measurements.h"

namespace vorneth::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kReproduce[] = "tools/dev.sh bench";

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// How a figure is judged.
enum class Aim {
  kRatioAtLeast,  // host/minimal at least the target (rates)
  kRatioAtMost,   // host/minimal at most the target (costs, times)
  kHostZero,      // the host's figure is 0
  kHostAtMost,    // the host's figure at most the target
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
    {"cold-start", "cold start (ms)", 2, Aim::kRatioAtMost, 1.0, 5, 1, &ColdStart},
    {"first-start", "first start, new data folder (ms)", 2, Aim::kShown, 0, 5, 1, &FirstStart},
    {"switches", "context switches per request, pinned", 2, Aim::kShown, 0, 3, 1, &SwitchesPerRequest},
    {"idle-pinned", "idle CPU over 2 s, pinned (ms)", 0, Aim::kHostZero, 0, 1, 1, &IdleCpuPinned},
    {"idle", "idle CPU over 2 s, unpinned (ms)", 0, Aim::kHostZero, 0, 1, 1, &IdleCpuUnpinned},
    {"idle-wakeups", "idle wake-ups over 2 s, unpinned", 0, Aim::kShown, 0, 1, 1, &IdleWakeups},
    {"shared-objects", "shared objects mapped, idle", 0, Aim::kHostAtMost, 10, 1, 1, &SharedObjectsIdle},
    {"private-dirty", "private dirty memory, idle (KiB)", 0, Aim::kRatioAtMost, 3.0, 3, 1, &PrivateDirtyIdle},
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
    case Aim::kHostAtMost:
      return "host <= " + Number(scenario.m_target, 0);
    case Aim::kShown:
      return "shown";
  }
  return "";
}

// "meets" or "MISSES"; "-" without a target or without a ratio to judge.
std::string Verdict(const Scenario& scenario, double host, std::optional<double> ratio) {
  switch (scenario.m_aim) {
    case Aim::kRatioAtLeast:
      return !ratio ? "-" : *ratio >= scenario.m_target ? "meets" : "MISSES";
    case Aim::kRatioAtMost:
      return !ratio ? "-" : *ratio <= scenario.m_target ? "meets" : "MISSES";
    case Aim::kHostZero:
      return host == 0 ? "meets" : "MISSES";
    case Aim::kHostAtMost:
      return host <= scenario.m_target ? "meets" : "MISSES";
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
  const std::optional<double> ratio = minimal != 0 ? std::optional<double>(host / minimal) : std::nullopt;
  std::string range = "-";
  if (figure.m_roundRatios.size() > 1) {
    const auto [low, high] = std::minmax_element(figure.m_roundRatios.begin(), figure.m_roundRatios.end());
    range = Number(*low, 2) + "-" + Number(*high, 2);
  }
  PrintRow(scenario.m_figure, Number(host, scenario.m_decimals), Number(minimal, scenario.m_decimals),
           ratio ? Number(*ratio, 2) : "-", range, TargetText(scenario), Verdict(scenario, host, ratio));
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
    std::fprintf(stderr, "%.1f s\n", Seconds(Clock::now() - scenario_started));
    if (!figures.back().second.m_error.empty())
      errors.push_back(scenario.m_figure + (": " + figures.back().second.m_error));
  }
  PrintRow("figure", "host", "minimal host", "ratio", "ratio range", "target", "");
  for (const auto& [scenario, figure] : figures) PrintFigure(*scenario, figure);
  std::printf("\n(ratio = host / minimal host; the range spans the rounds' own ratios; run took %.0f s)\n",
              Seconds(Clock::now() - started));
  for (const std::string& error : errors) std::printf("FAILED %s\n", error.c_str());
  return errors.empty() ? 0 : 1;
}

}  // namespace

}  // namespace vorneth::bench

int main(int argc, char** argv) {
  return vorneth::bench::Main(argc, argv);
}
