// vorneth-soak [minutes]: mixed traffic against the built vorneth-host for
// that long (30 by default), then the verdict. tools/dev.sh soak runs it
// against the address+undefined sanitizer build.
//
// Traffic, all over real pipes, each host on a data folder of its own:
// - kPages long-lived hosts (a browser page each) for the whole run, each
//   in rounds of page and host queries, an example add-on instance ticking
//   from its own thread while it is invoked, the session's probe instance
//   raising events from its thread and handing over a secure text, the
//   installation and removal of a signed package, now and then the page's
//   origin denied and allowed again, and every half minute a new session
//   ("Create" again);
// - one thread that starts short-lived hosts one after another, gives each
//   some of the same traffic and closes its input (a third of them with an
//   instance still ticking), so that hosts start and end along the way.
// Packages are packed at the start with the build's vorneth-pack and the
// development key, and installed from "file" URLs.
//
// Verdict: every request owed exactly one answer and every caused message
// arrived, none twice and nothing unexpected (ledger.h); every host ended
// with status 0 and no sanitizer report (the leak check runs at exit); the
// long-lived hosts' resident memory (less the address sanitizer's records
// of the threads they started, sanitizer_threads.h), threads and
// descriptors flat from the second minute (the first is warm-up) to the
// last (resource_table.h). Exit status 0 when all
// hold, 1 otherwise, 2 for a bad argument.
//
// Every loop is bounded by the run's end and a count. The scratch folder
// (packages, the hosts' data folders and standard-error files) is removed
// at the end, also after a failure or SIGINT, which ends the run early and
// fails it.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "ledger.h"
#include "resource_table.h"
#include "sanitizer_threads.h"
#include "soak_host.h"
#include "support/scratch_dir.h"
#include "traffic.h"

namespace vorneth::soak {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultMinutes = 30;
constexpr int kMaxMinutes = 7 * 24 * 60;
constexpr size_t kPages = 3;
// Ticks of an example instance per round, events of a probe instance.
constexpr int kTicks = 20;
constexpr int kProbeEvents = 20;
// Ticks an instance is left with when its host's input closes under it
// (5 ms apart: it is still ticking then).
constexpr int kLeftTicks = 2000;
// Every so many rounds: the origin denied and allowed.
constexpr int kDenyEvery = 5;
// Probe instances a long-lived host creates at most (one per session):
// its library hands out 256 per process. Past that, in runs of hours, the
// pages go on without one.
constexpr int kMaxProbeInstances = 250;
// A new session ("Create" again) in a long-lived host this often, the
// pages a few seconds apart. The page disposes of its probe instance
// first, so the session it replaces holds no instance and is freed at a
// later "Create" (a session replaced under a live instance stays until
// that instance is gone, which is what a page that reloads every few
// seconds without disposing would grow its host with). Ending a session
// under a live instance (and the ticks allowed until it is gone) is left
// to the short-lived hosts, which end with their input.
constexpr std::chrono::seconds kSessionInterval{30};
constexpr std::chrono::seconds kSessionStagger{7};
// A pause between a page's rounds, so that the hosts leave the shared
// machine some air, and between short-lived hosts.
constexpr std::chrono::milliseconds kRoundPause{100};
constexpr std::chrono::milliseconds kProcessPause{200};
constexpr std::chrono::seconds kSampleInterval{2};
constexpr std::chrono::seconds kPackTimeout{120};
// Loop bounds beyond anything a run reaches.
constexpr int kMaxRounds = 10'000'000;
constexpr int kMaxProcesses = 1'000'000;

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  g_interrupted.store(true);
}

// What all threads share: the end of the run and the traffic so far.
struct Run {
  Clock::time_point m_start;
  Clock::time_point m_end;
  std::atomic<uint64_t> m_rounds{0};
  std::atomic<uint64_t> m_sessions{0};
  std::atomic<uint64_t> m_processes{0};
  std::atomic<uint64_t> m_instances{0};  // created in the long-lived hosts

  bool going() const { return !g_interrupted.load() && Clock::now() < m_end; }
};

// What one driving thread reports once it is joined.
struct Report {
  LedgerCounts m_counts;
  std::vector<std::string> m_problems;
  uint64_t m_hosts = 0;

  void Take(const SoakHost& host) {
    m_counts.Add(host.ledger().counts());
    m_problems.insert(m_problems.end(), host.faults().begin(), host.faults().end());
    for (const std::string& problem : host.ledger().problems()) m_problems.push_back(host.name() + ": " + problem);
    ++m_hosts;
  }
};

struct Setup {
  Catalogue m_catalogue;
  std::string m_logs;
};

// One long-lived page: its pid is published for sampling while it runs.
struct PageSlot {
  std::atomic<pid_t> m_pid{0};
  Report m_report;
};

bool Pack(const std::string& folder, const Package& package, const std::string& packages) {
  ChildProcess pack;
  ChildProcessOptions options;
  options.command = {VORNETH_PACK_PATH,
                     "pack",
                     "--key",
                     VORNETH_TEST_PRIVATE_KEY,
                     "--uuid",
                     package.m_uuid,
                     "--version",
                     package.m_version,
                     folder,
                     packages + "/" + package.m_file};
  if (!pack.Start(options)) {
    std::fprintf(stderr, "vorneth-soak: cannot run vorneth-pack: %s\n", pack.error().c_str());
    return false;
  }
  pack.CloseInput();
  std::string output;
  for (int i = 0; i < 1000 && pack.Read(output, kPackTimeout) == ReadStatus::kData; ++i) {
  }
  const std::optional<int> status = pack.Wait(kPackTimeout);
  if (status == 0) return true;
  std::fprintf(stderr, "vorneth-soak: packing %s failed:\n%s\n", folder.c_str(), output.c_str());
  return false;
}

bool PackAll(const Catalogue& catalogue, const std::string& packages) {
  std::filesystem::create_directories(packages);
  const std::string probes = VORNETH_TEST_ADDONS_DIR;
  return Pack(VORNETH_EXAMPLE_ADDON_DIR, catalogue.m_example, packages) &&
         Pack(probes + "/probe", catalogue.m_probe, packages) && Pack(probes + "/js_only", catalogue.m_churn, packages);
}

// Where the long-lived host `index` writes its standard error.
std::string PageStderrPath(const Setup& setup, size_t index) {
  return setup.m_logs + "/page-" + std::to_string(index + 1) + ".stderr";
}

void DrivePage(const Setup& setup, Run& run, size_t index, PageSlot& slot) {
  const std::string name = "page " + std::to_string(index + 1);
  SoakHost host(name, PageStderrPath(setup, index));
  const Catalogue& catalogue = setup.m_catalogue;
  bool ok = host.Start();
  if (ok) {
    slot.m_pid.store(host.pid());
    NewSession(host, 0);
    ok = Install(host, catalogue, {catalogue.m_example, catalogue.m_probe});
  }
  int serial = 0;
  int32_t probe = -1;  // the session's probe instance, once created
  int probes = 0;
  auto nextSession = Clock::now() + kSessionInterval + static_cast<int>(index) * kSessionStagger;
  for (int round = 1; ok && round <= kMaxRounds && run.going(); ++round) {
    if (probe < 0 && probes < kMaxProbeInstances) {
      probe = CreateProbe(host, catalogue.m_probe);
      ++probes;
      run.m_instances.fetch_add(1);
      ok = probe >= 0;
    }
    run.m_instances.fetch_add(1);
    ok = ok && Queries(host, catalogue) && ExampleInstance(host, catalogue.m_example, kTicks) &&
         (probe < 0 || UseProbe(host, probe, kProbeEvents)) && InstallAndRemove(host, catalogue);
    if (ok && round % kDenyEvery == 0) ok = DenyAndAllow(host);
    if (ok && Clock::now() >= nextSession) {
      nextSession += kSessionInterval;
      // Disposed first: a replaced session's instances would live on.
      if (probe >= 0) ok = Dispose(host, probe, catalogue.m_probe);
      probe = -1;
      NewSession(host, ++serial);
      ok = ok && Queries(host, catalogue);
      run.m_sessions.fetch_add(1);
    }
    run.m_rounds.fetch_add(1);
    std::this_thread::sleep_for(kRoundPause);
  }
  slot.m_pid.store(0);  // its end is not sampled
  host.Finish();        // with the probe instance still live: the session disposes of it
  slot.m_report.Take(host);
}

// Short-lived hosts one after another, each ending in one of three ways.
void DriveProcesses(const Setup& setup, Run& run, Report& report) {
  const Catalogue& catalogue = setup.m_catalogue;
  for (int i = 1; i <= kMaxProcesses && run.going(); ++i) {
    const std::string log = setup.m_logs + "/process-" + std::to_string(i) + ".stderr";
    SoakHost host("short-lived host " + std::to_string(i), log);
    if (host.Start()) {
      NewSession(host, 0);
      bool ok = Install(host, catalogue, {catalogue.m_example, catalogue.m_probe}) && Queries(host, catalogue);
      switch (i % 3) {
        case 0:
          ok = ok && ExampleInstance(host, catalogue.m_example, kTicks);
          break;
        case 1:
          ok = ok && ProbeInstance(host, catalogue.m_probe, kProbeEvents);
          break;
        default:
          ok = ok && LeaveTicking(host, catalogue.m_example, kLeftTicks);  // ends under a ticking instance
          break;
      }
    }
    host.Finish();
    report.Take(host);
    if (host.faults().empty()) std::filesystem::remove(log);
    run.m_processes.fetch_add(1);
    std::this_thread::sleep_for(kProcessPause);
  }
}

std::string Progress(const Run& run) {
  return std::to_string(run.m_rounds.load()) + " rounds, " + std::to_string(run.m_instances.load()) + " instances, " +
         std::to_string(run.m_sessions.load()) + " new sessions, " + std::to_string(run.m_processes.load()) +
         " short-lived hosts";
}

// Samples the pages every kSampleInterval until the run ends, printing each
// minute's row as it completes; `threads` counts each page's threads from
// its standard error.
void Sample(const Run& run, std::vector<PageSlot>& slots, std::vector<SanitizerThreadCounter>& threads,
            ResourceTable& table) {
  size_t printed = 0;
  const auto total = run.m_end - run.m_start;
  for (long i = 0; i <= total / kSampleInterval + 1 && run.going(); ++i) {
    std::this_thread::sleep_until(run.m_start + i * kSampleInterval);
    const auto elapsed = Clock::now() - run.m_start;
    const size_t minute = static_cast<size_t>(elapsed / std::chrono::minutes(1));
    if (elapsed >= total) break;
    for (; printed < minute; ++printed) table.PrintRow(printed, Progress(run), stdout);
    for (size_t page = 0; page < slots.size(); ++page) {
      const pid_t pid = slots[page].m_pid.load();
      if (pid == 0) continue;
      if (const std::optional<ProcessStats> stats = ReadProcessStats(pid)) {
        table.Add(page, minute, *stats, threads[page].Update());
      }
    }
  }
  // The minutes completed: all of them unless the run was interrupted.
  const auto reached = std::min<Clock::duration>(total, Clock::now() - run.m_start);
  const size_t minutes = static_cast<size_t>(reached / std::chrono::minutes(1));
  for (; printed < minutes; ++printed) table.PrintRow(printed, Progress(run), stdout);
}

void PrintCounts(const char* who, const Report& report) {
  const LedgerCounts& c = report.m_counts;
  std::printf(
      "%-18s %4llu hosts %8llu requests %8llu answered %8llu messages | missing %llu, duplicate %llu, "
      "unexpected %llu, wrong %llu\n",
      who, static_cast<unsigned long long>(report.m_hosts), static_cast<unsigned long long>(c.m_requests),
      static_cast<unsigned long long>(c.m_answers), static_cast<unsigned long long>(c.m_messages),
      static_cast<unsigned long long>(c.m_missing), static_cast<unsigned long long>(c.m_duplicate),
      static_cast<unsigned long long>(c.m_unexpected), static_cast<unsigned long long>(c.m_wrong));
}

int Soak(int minutes) {
  vorneth::testing::ScratchDir root;
  if (root.path().empty()) {
    std::fprintf(stderr, "vorneth-soak: cannot make a scratch folder\n");
    return 1;
  }
  Setup setup;
  setup.m_logs = root / "logs";
  std::filesystem::create_directories(setup.m_logs);
  Catalogue& catalogue = setup.m_catalogue;
  catalogue.m_baseUrl = "file://" + (root / "packages") + "/";
  catalogue.m_example = {"example.pkg", "{example}", "1.0"};
  catalogue.m_probe = {"probe.pkg", "{soak-probe}", "1.0"};
  catalogue.m_churn = {"churn.pkg", "{soak-churn}", "2.0"};
  if (!PackAll(catalogue, root / "packages")) return 1;

  std::printf("soak: %d minutes, %zu long-lived hosts and short-lived ones, host %s\n", minutes, kPages,
              vorneth::testing::HostUnderTestPath().c_str());
  std::fflush(stdout);
  Run run;
  run.m_start = Clock::now();
  run.m_end = run.m_start + std::chrono::minutes(minutes);
  std::vector<PageSlot> slots(kPages);
  Report processes;
  std::vector<std::thread> threads;
  for (size_t page = 0; page < kPages; ++page) {
    threads.emplace_back(DrivePage, std::cref(setup), std::ref(run), page, std::ref(slots[page]));
  }
  threads.emplace_back(DriveProcesses, std::cref(setup), std::ref(run), std::ref(processes));

  std::vector<std::string> names;
  std::vector<SanitizerThreadCounter> counters;
  for (size_t page = 0; page < kPages; ++page) {
    names.push_back("page " + std::to_string(page + 1));
    counters.emplace_back(PageStderrPath(setup, page));
  }
  ResourceTable table(names);
  Sample(run, slots, counters, table);
  for (std::thread& thread : threads) thread.join();

  std::printf("\n");
  Report pages;
  for (PageSlot& slot : slots) {
    pages.m_counts.Add(slot.m_report.m_counts);
    pages.m_problems.insert(pages.m_problems.end(), slot.m_report.m_problems.begin(), slot.m_report.m_problems.end());
    pages.m_hosts += slot.m_report.m_hosts;
  }
  PrintCounts("long-lived hosts", pages);
  PrintCounts("short-lived hosts", processes);
  std::printf("%s\n\n", Progress(run).c_str());
  const bool flat = table.Verdict(stdout);
  bool accounted = true;
  for (const Report* report : {&pages, &processes}) {
    for (const std::string& problem : report->m_problems) std::printf("PROBLEM %s\n", problem.c_str());
    accounted = accounted && report->m_problems.empty() && report->m_counts.failures() == 0;
  }
  if (g_interrupted.load()) std::printf("interrupted: the run is not complete\n");
  const bool passed = flat && accounted && !g_interrupted.load();
  std::printf("\nsoak %s\n", passed ? "passed" : "FAILED");
  return passed ? 0 : 1;
}

}  // namespace
}  // namespace vorneth::soak

int main(int argc, char** argv) {
  int minutes = vorneth::soak::kDefaultMinutes;
  if (argc > 2 || (argc == 2 && (std::atoi(argv[1]) < 1 || std::atoi(argv[1]) > vorneth::soak::kMaxMinutes))) {
    std::fprintf(stderr, "usage: vorneth-soak [minutes, 1 to %d; %d by default]\n", vorneth::soak::kMaxMinutes,
                 vorneth::soak::kDefaultMinutes);
    return 2;
  }
  if (argc == 2) minutes = std::atoi(argv[1]);
  struct sigaction interrupt = {};
  interrupt.sa_handler = vorneth::soak::OnInterrupt;
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGTERM, &interrupt, nullptr);
  return vorneth::soak::Soak(minutes);
}
