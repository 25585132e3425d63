// The resources of the long-lived hosts minute by minute, and the verdict
// on their growth.
//
// Each sample is folded into its minute as a maximum: a host's level moves
// within a minute as instances (one add-on worker each, plus the add-on's
// own threads) come and go and as installations hold files open, but the
// traffic is the same every minute, so the highest level of a minute is
// steady unless something piles up. The verdict compares the level of
// kSettledMinute (the first minute of a run shorter than that) with the
// last minute's.
//
// One object is used from one thread at a time (the driver's sampling loop).
#ifndef VORNETH_TESTS_SOAK_RESOURCE_TABLE_H_
#define VORNETH_TESTS_SOAK_RESOURCE_TABLE_H_

#include <cstdio>
#include <string>
#include <vector>

#include "process_stats.h"

namespace vorneth::soak {

// The minute (counted from 0) whose level the last minute is held to: the
// second. The first minute is warm-up: a host's first "Create" again
// comes after half a minute or more (soak_main.cpp) and only a later one
// frees the session it replaced, so a host first holds the sessions it
// keeps from then on (its current one and the replaced ones not yet
// freed) in its second minute. Measured: ten minutes of the plain build
// rose 6 to 16 % from the first minute to the second, once, then stayed
// within 2 % of the second.
inline constexpr size_t kSettledMinute = 1;
// Allowed growth from the settled minute to the last: a share of the
// settled level, plus an absolute slack where the level is a small count.
inline constexpr double kAllowedGrowth = 0.05;
// Threads: the maximum of a minute depends on whether a sample fell while
// both instances of a round were alive with their add-on threads (an
// add-on worker and the example's ticker or the probe's event thread,
// each), which a flat host may show in one minute and not the next.
inline constexpr uint64_t kThreadSlack = 3;
// Resident memory under the address sanitizer: besides the share, the
// records it keeps of the threads started from the settled minute to the
// last (sanitizer_threads.h), at this many bytes each. Measured with Clang
// 14 and 16: a program that starts and joins 40,000 threads grows by
// 6,716 KiB under the sanitizer (172 bytes a thread: the 168-byte record
// and the registry's pointer to it) and not at all without it.
inline constexpr uint64_t kSanitizerBytesPerThread = 172;
// Descriptors: a sample may fall while an installation holds the package
// and the files it unpacks open, or while the store and its lock file are
// open; a few at once.
inline constexpr uint64_t kDescriptorSlack = 4;

class ResourceTable {
 public:
  explicit ResourceTable(std::vector<std::string> hosts);

  // One sample of host `host` (index into the names) in minute `minute`,
  // with the threads its sanitizer has told of so far (0 without one).
  void Add(size_t host, size_t minute, const ProcessStats& stats, uint64_t sanitizer_threads = 0);
  // Prints the header once, then the row of `minute` (a dash for a host
  // without samples in it).
  void PrintRow(size_t minute, const std::string& progress, FILE* out);
  // Prints one line per host and resource, settled and last minute with
  // the growth, and returns false when any grew more than allowed. A host
  // with no sample in either minute fails too.
  bool Verdict(FILE* out) const;

 private:
  struct Level {
    bool m_sampled = false;
    ProcessStats m_max;
    uint64_t m_sanitizerThreads = 0;
  };
  std::vector<std::string> m_hosts;
  std::vector<std::vector<Level>> m_minutes;  // [minute][host]
  bool m_headerPrinted = false;
};

}  // namespace vorneth::soak

#endif  // VORNETH_TESTS_SOAK_RESOURCE_TABLE_H_
