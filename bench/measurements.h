// The measurements of the comparison driver (bench/host_vs_minimal.cpp):
// each function runs one host once, as one round of its figure, and gives
// back its samples (or why it could not). Every figure is for "GetVersion"
// page requests of a PageSession, whose answers are checked; each run
// starts a fresh host process with a fresh data folder and the browser's
// argument "chrome-extension://bench/".
//
// A pinned measurement pins the calling thread to one CPU (CpuPin) before
// it starts the host, which inherits that CPU. Times come from the steady
// clock, resource usage from wait4 and /proc, instruction counts from
// valgrind's callgrind (all threads together).
//
// Thread safety: none; the driver is one thread.
#ifndef VORNETH_BENCH_MEASUREMENTS_H_
#define VORNETH_BENCH_MEASUREMENTS_H_

#include <chrono>
#include <string>
#include <vector>

namespace vorneth::bench {

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
  std::chrono::milliseconds m_idle;
};

inline constexpr Sizes kFullSizes = {300, 2300, 20000, 700, 6, 20, 1000, 6000, std::chrono::milliseconds(2000)};
inline constexpr Sizes kQuickSizes = {100, 600, 2000, 70, 2, 2, 200, 1200, std::chrono::milliseconds(2000)};

struct Settings {
  Sizes m_sizes = kFullSizes;
  bool m_quick = false;    // a smoke run: kQuickSizes and fewer rounds
  std::string m_valgrind;  // empty when it is not installed
};

// What one run gave for one host: samples, or why none.
struct Samples {
  std::vector<double> m_values;
  std::string m_error;    // the host could not be driven
  std::string m_skipped;  // the measurement cannot run on this machine
};

// Instructions per request under callgrind, from two ping-pong runs that
// differ only in their request count, so that start-up cancels out.
// Skipped without valgrind.
Samples InstructionsPerRequest(const HostProgram& program, const Settings& settings);

// Requests per second: one at a time with driver and host on one CPU; in
// batches of kMaxBatch on one CPU and on all.
Samples PingPongPinned(const HostProgram& program, const Settings& settings);
Samples PipelinedPinned(const HostProgram& program, const Settings& settings);
Samples PipelinedUnpinned(const HostProgram& program, const Settings& settings);

// Milliseconds from the first byte written to the answer read, for requests
// whose params hold one string of 1 MiB of letters; one sample each.
Samples LargeRoundTrip(const HostProgram& program, const Settings& settings);

// Milliseconds from the spawn to the first answer (Create and GetVersion
// written together); one sample per spawn. ColdStart starts every host on
// a data folder an earlier start left; FirstStart on a new, empty one.
Samples ColdStart(const HostProgram& program, const Settings& settings);
Samples FirstStart(const HostProgram& program, const Settings& settings);

// Context switches (voluntary and involuntary, all threads, from wait4)
// per ping-pong request of a pinned host, from two runs that differ only in
// their request count.
Samples SwitchesPerRequest(const HostProgram& program, const Settings& settings);

// CPU time in ms (/proc/<pid>/stat, all threads, clock ticks) and thread
// wake-ups (context switches of the live threads) of a host that waits for
// input for m_idle after answering one request.
Samples IdleCpuPinned(const HostProgram& program, const Settings& settings);
Samples IdleCpuUnpinned(const HostProgram& program, const Settings& settings);
Samples IdleWakeups(const HostProgram& program, const Settings& settings);

// What a host holds while it waits for input after one answer, read from
// /proc once the answer has settled: the shared objects it has mapped
// (distinct files whose name holds ".so"), and its private dirty memory in
// KiB (smaps_rollup), the part of its memory no other process shares.
Samples SharedObjectsIdle(const HostProgram& program, const Settings& settings);
Samples PrivateDirtyIdle(const HostProgram& program, const Settings& settings);

}  // namespace vorneth::bench

#endif  // VORNETH_BENCH_MEASUREMENTS_H_
