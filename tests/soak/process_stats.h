// A process's resources as Linux shows them under /proc: resident memory
// (VmRSS), threads (Threads) and open descriptors (the entries of fd/).
// Linux only; every function reads the files once and never blocks.
#ifndef VORNETH_TESTS_SOAK_PROCESS_STATS_H_
#define VORNETH_TESTS_SOAK_PROCESS_STATS_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vorneth::soak {

struct ProcessStats {
  uint64_t m_rssKib = 0;
  uint64_t m_threads = 0;
  uint64_t m_descriptors = 0;
};

// nullopt when the process is gone (or /proc cannot be read).
std::optional<ProcessStats> ReadProcessStats(pid_t pid);

// The pid of this process's child whose environment holds
// `variable`=`value` once it has started its program; 0 when there is none
// (yet). The harness does not tell its child's pid; each host has a data
// folder of its own (XDG_DATA_HOME), which names it.
pid_t FindChildByEnvironment(const std::string& variable, const std::string& value);

}  // namespace vorneth::soak

#endif  // VORNETH_TESTS_SOAK_PROCESS_STATS_H_
