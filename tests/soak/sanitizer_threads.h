// How many threads a host has started, as its address sanitizer tells on
// standard error when run with verbosity=1: a line "==<pid>==T<n>: stack
// [...]" as each thread starts, numbered from T0 (the main thread) on.
//
// The sanitizer keeps a record of every thread a process has started for
// the process's whole life (soak_host.cpp says more), so the verdict on
// resident memory counts those records apart from the host's own memory
// (resource_table.h). A host of a build without the sanitizer prints no
// such line and counts 0.
//
// One object is used from one thread at a time (the driver's sampling loop).
#ifndef VORNETH_TESTS_SOAK_SANITIZER_THREADS_H_
#define VORNETH_TESTS_SOAK_SANITIZER_THREADS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vorneth::soak {

// The thread number of one standard-error line: n of "==<pid>==T<n>: stack",
// or -1 for any other line.
int64_t StartedThreadNumber(std::string_view line);

class SanitizerThreadCounter {
 public:
  explicit SanitizerThreadCounter(std::string stderr_path);

  // Reads the whole lines added to the file since the last call and returns
  // the threads started so far (the highest number seen, plus one); 0 while
  // the file is missing or told of none.
  uint64_t Update();

 private:
  std::string m_path;
  uint64_t m_offset = 0;   // bytes of whole lines read so far
  uint64_t m_started = 0;  // the highest thread number seen, plus one
};

}  // namespace vorneth::soak

#endif  // VORNETH_TESTS_SOAK_SANITIZER_THREADS_H_
