#include "soak_host.h"

#include <thread>
#include <utility>

#include "process_stats.h"
#include "support/file_bytes.h"

namespace vorneth::soak {

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Every host talks on this port id; the ledger checks every frame for it.
constexpr char kPortId[] = "soak";
// How long the host may take to start its program, to end after its input
// closed (disposing instances, then the leak check of the address
// sanitizer, which walks the whole heap), and how long a read waits.
constexpr std::chrono::seconds kStartTimeout{10};
constexpr std::chrono::seconds kExitTimeout{120};
constexpr milliseconds kReadSlice{200};
// Frames read while the output still comes after the input closed, at most.
constexpr int kMaxTrailingFrames = 100000;

// The sanitizers' run-time options for the host. The leak check at exit is
// the point. The rest makes the resident memory follow what the host holds
// rather than what the allocator of the address sanitizer keeps: its
// quarantine (freed blocks kept unusable to catch late uses) is 1 MiB, with
// 64 KiB per thread before a thread hands its share over, instead of 256 MiB
// and 1 MiB per thread: a busy host fills it over minutes, which shows as
// growth that has nothing to do with the host (at 4 MiB, the hosts rose by
// 4 MiB, ten per cent, between the second minute and the fifteenth, ever
// more slowly); and free pages of its size classes go back to the system
// every second. Allocations and frees are recorded with two frames of
// their stacks rather than thirty: the sanitizer keeps every distinct stack
// it has recorded for good, and the deep ones of a busy host kept coming
// (21,000 of them in 9.5 MiB after twelve minutes, 300 more a minute,
// while what the host itself held stayed at 315 KB). A leak found at exit
// is reported with those two frames; run the host under the sanitizer
// defaults to see more.
//
// One growth is left, and it is the sanitizer's: it keeps a record of
// about 170 bytes for every thread the process has started, also once the
// thread has been joined, and never reuses it (Clang 14 and 16 alike: a
// program that starts and joins 40,000 threads grows by 6.7 MiB under the
// sanitizer and not at all without it). A host starts a worker for every
// instance and every session, and the add-ons start their own threads, so
// under this traffic each long-lived host starts about 1,000 threads a
// minute, some 170 KiB of records. With verbosity=1 the sanitizer writes a
// line as each thread starts; the driver counts them and the verdict
// takes their records out of the growth (sanitizer_threads.h). It also
// writes its set-up at the start and a line as each thread ends: a few
// hundred kilobytes a minute of standard error.
std::vector<std::pair<std::string, std::optional<std::string>>> SanitizerEnvironment() {
  return {{"ASAN_OPTIONS",
           "detect_leaks=1:quarantine_size_mb=1:thread_local_quarantine_size_kb=64:"
           "allocator_release_to_os_interval_ms=1000:malloc_context_size=2:verbosity=1"},
          {"UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1"}};
}

// A report of any of the sanitizers: its "ERROR:" or "WARNING:" heading, its
// closing "SUMMARY:" line, or undefined behaviour's "runtime error:". The
// verbose lines (set-up, threads, "failed to intercept") are none of these.
bool HasSanitizerReport(const std::string& text) {
  for (const char* mark : {"ERROR: ", "WARNING: ", "SUMMARY: ", "runtime error:"}) {
    if (text.find(mark) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

SoakHost::SoakHost(std::string name, const std::string& stderr_path)
    : m_name(std::move(name)),
      m_stderrPath(stderr_path),
      m_host([&] {
        vorneth::testing::HostProcessOptions options;
        options.environment = SanitizerEnvironment();
        options.stderr_path = stderr_path;
        return options;
      }()),
      m_ledger(kPortId) {}

bool SoakHost::Start() {
  if (!m_host.Start()) {
    Fault("cannot start: " + m_host.error());
    return false;
  }
  // The child shows the host's environment once it has started its program.
  const auto deadline = Clock::now() + kStartTimeout;
  while (m_pid == 0 && Clock::now() < deadline) {
    m_pid = FindChildByEnvironment("XDG_DATA_HOME", m_host.data_home());
    if (m_pid == 0) std::this_thread::sleep_for(milliseconds(10));
  }
  if (m_pid == 0) Fault("started, but its pid was not found under /proc");
  return m_pid != 0;
}

void SoakHost::Create(const std::string& url, const std::string& version) {
  Send(vorneth::testing::Create(url, version, kPortId));
}

void SoakHost::Page(const std::string& command, const std::string& params, AnswerCheck check) {
  const std::string id = m_ledger.Expect("page command " + command + " " + params, "Vorneth", std::move(check));
  Send(vorneth::testing::PageCommand(command, params, id, kPortId));
}

void SoakHost::Host(const std::string& command, const std::string& params, AnswerCheck check) {
  const std::string id = m_ledger.Expect("host command " + command + " " + params, "Vorneth-I", std::move(check));
  Send(vorneth::testing::HostCommand(command, params, id, kPortId));
}

bool SoakHost::Settle() {
  const auto deadline = Clock::now() + kAnswerTimeout;
  while (m_healthy && !m_ledger.settled() && Clock::now() < deadline) {
    if (std::optional<std::string> frame = m_host.ReadFrame(kReadSlice)) {
      m_ledger.Take(*frame);
    } else if (m_host.output_ended()) {
      m_healthy = false;
      Fault("the host's output ended: " + m_host.error());
    }
  }
  if (m_ledger.settled()) return m_healthy;
  m_ledger.WriteOffMissing();
  return false;
}

void SoakHost::Finish() {
  m_host.CloseInput();
  const auto deadline = Clock::now() + kExitTimeout;
  for (int i = 0; i < kMaxTrailingFrames && !m_host.output_ended() && Clock::now() < deadline; ++i) {
    if (std::optional<std::string> frame = m_host.ReadFrame(kReadSlice)) m_ledger.Take(*frame);
  }
  m_ledger.WriteOffMissing();
  const std::optional<int> status = m_host.WaitExit(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
  if (!status) {
    Fault("did not end within " + std::to_string(kExitTimeout.count()) + " s of its input closing");
    m_host.Kill();
  } else if (*status != 0) {
    Fault("ended with status " + std::to_string(*status));
  }
  const std::string errors = vorneth::testing::ReadBytes(m_stderrPath);
  if (HasSanitizerReport(errors)) Fault("a sanitizer report on standard error:\n" + errors.substr(0, 6000));
  m_pid = 0;
}

void SoakHost::Send(const std::string& request) {
  if (!m_healthy) return;
  if (m_host.Send(request)) return;
  m_healthy = false;
  Fault("cannot send: " + m_host.error());
}

void SoakHost::Fault(const std::string& text) {
  m_faults.push_back(m_name + ": " + text);
}

}  // namespace vorneth::soak
