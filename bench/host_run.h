// One host process for the comparison driver (bench/host_vs_minimal.cpp),
// driven over its pipes as the browser drives it, with what the driver
// measures besides: the process id (for /proc), its resource usage as wait4
// reports it at the end, and bounded waits everywhere.
//
// Contract:
// - Start launches command[0] (looked up in PATH when it has no '/') with
//   the remaining elements as arguments, standard input and output as pipes,
//   standard error into the file stderr_path(), and XDG_DATA_HOME set to a
//   new empty folder. The child inherits the caller's CPU affinity, so a
//   caller pinned to one CPU (CpuPin) starts a pinned host. SIGPIPE has its
//   default action in the child whatever the caller does with it.
// - Every wait is bounded by the run's timeout (kAnswerTimeout unless
//   set_timeout changed it): a host that does not take its input, does not
//   answer or does not end in time is a failure; the failing call kills it,
//   and error() says what went wrong, with the end of the host's standard
//   error. usage() then holds what the killed host had used.
// - Finish closes the input and expects, in time, the end of the output with
//   no byte beyond the frames already received, then exit status 0; usage()
//   is valid after it. A finished run may Start again: the new host gets
//   the same scratch folder, with whatever the last one left in it.
// - The destructor kills and reaps a host still running and removes the
//   scratch folder with everything in it.
// - Linux only; nothing here throws.
//
// Thread safety: none; one run belongs to one thread.
#ifndef VORNETH_BENCH_HOST_RUN_H_
#define VORNETH_BENCH_HOST_RUN_H_

#include <sched.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame_codec.h"

namespace vorneth::bench {

inline constexpr std::chrono::seconds kAnswerTimeout{10};

// A file descriptor closed with its owner.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;

  void Close();
  int get() const { return m_fd; }

 private:
  int m_fd = -1;
};

class HostRun {
 public:
  HostRun() = default;
  ~HostRun();
  HostRun(const HostRun&) = delete;
  HostRun& operator=(const HostRun&) = delete;

  // Makes the scratch folder (Start makes it when this was not called), so
  // that files inside it can be named in the command. False (error() says
  // why) when it cannot be made.
  bool Prepare();

  // False (error() says why) when the folder, the pipes or the process
  // cannot be made.
  bool Start(const std::vector<std::string>& command);

  // Writes every byte of `bytes`. False when the host stopped reading or did
  // not take the bytes in time.
  bool Send(std::string_view bytes);

  // The body of the next whole frame the host writes. False when none comes
  // in time, the output ends first or the frame length is impossible.
  bool Receive(std::string& body);

  // The same, waiting at most `wait` without failing the run: false when no
  // whole frame came in that time (or the output ended).
  bool TryReceive(std::string& body, std::chrono::milliseconds wait);

  // True when bytes beyond the frames received have been read.
  bool HasUnreadBytes() const { return m_decoder.buffered() != 0; }

  // Ends the run as the browser does (see the contract). False when the
  // host does not end in time, writes more or ends with another status.
  // With `unasked`, frames that arrive after the input was closed are put
  // there instead of failing the run (answers whose order is not known).
  bool Finish(std::vector<std::string>* unasked = nullptr);

  // The host's user and system CPU time so far, all threads, in
  // milliseconds (/proc/<pid>/stat, counted in clock ticks). Nullopt when
  // the file cannot be read or parsed.
  std::optional<double> CpuMilliseconds() const;

  // Voluntary and involuntary context switches so far of the host's threads
  // now alive, from /proc/<pid>/task/*/status: each wake-up of a thread
  // counts, however short. Nullopt when /proc cannot tell.
  std::optional<long> LiveContextSwitches() const;

  // The distinct files the host has mapped whose name holds ".so" (the
  // shared objects, the loader's own included), from /proc/<pid>/maps; and
  // its private dirty memory in KiB, from /proc/<pid>/smaps_rollup.
  // Nullopt when /proc cannot tell.
  std::optional<long> MappedSharedObjects() const;
  std::optional<long> PrivateDirtyKiB() const;

  // The bound of each later wait (a large frame may take its time).
  void set_timeout(std::chrono::seconds timeout) { m_timeout = timeout; }

  // Records a failure found by the caller (a wrong answer, say): kills the
  // host and keeps `what` with the end of its standard error. Returns false.
  bool Fail(const std::string& what);

  pid_t pid() const { return m_pid; }
  // When the process was started (taken just before it was spawned).
  std::chrono::steady_clock::time_point started_at() const { return m_startedAt; }
  const std::string& folder() const { return m_folder; }
  std::string stderr_path() const { return m_folder + "/stderr"; }
  const struct rusage& usage() const { return m_usage; }
  const std::string& error() const { return m_error; }

 private:
  bool Spawn(const std::vector<std::string>& command);
  // Waits until `fd` is ready for `events` or `deadline` passes.
  bool Await(int fd, short events, std::chrono::steady_clock::time_point deadline);
  // Reads what the output holds into the decoder: 0 at its end, -1 on a
  // failure (recorded), otherwise the byte count.
  long ReadSome(std::chrono::steady_clock::time_point deadline);
  // Collects the ended host's `status` and usage; false when it has not
  // ended by `deadline` or cannot be waited for.
  bool Reap(std::chrono::steady_clock::time_point deadline, int& status);
  void Kill();
  std::string StderrTail() const;

  std::string m_folder;
  pid_t m_pid = -1;
  std::chrono::steady_clock::time_point m_startedAt;
  FileDescriptor m_input;   // the host's standard input, our end
  FileDescriptor m_output;  // the host's standard output, our end
  FrameDecoder m_decoder;
  std::vector<char> m_readBuffer = std::vector<char>(size_t{64} * 1024);
  struct rusage m_usage = {};
  std::string m_error;
  std::chrono::seconds m_timeout = kAnswerTimeout;
};

// Pins the calling thread to one CPU (the first it may run on) for the
// object's lifetime and restores the former set after. Processes started
// meanwhile inherit the single CPU.
class CpuPin {
 public:
  CpuPin();
  ~CpuPin();
  CpuPin(const CpuPin&) = delete;
  CpuPin& operator=(const CpuPin&) = delete;

  // False when the affinity could not be set; the thread then runs where it
  // ran before.
  bool pinned() const { return m_pinned; }
  int cpu() const { return m_cpu; }

 private:
  cpu_set_t m_before = {};
  bool m_pinned = false;
  int m_cpu = -1;
};

}  // namespace vorneth::bench

#endif  // VORNETH_BENCH_HOST_RUN_H_
