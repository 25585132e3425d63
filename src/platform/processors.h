// How many processors the host may run on, and the pause of a busy wait.
//
// A thread that waits for another by polling only gains when the other runs
// at the same time, on another processor. With one usable processor polling
// only takes time from the thread it waits for, so callers poll only when
// UsableProcessorCount() is above one.
//
// Thread-safe.
#ifndef VORNETH_PLATFORM_PROCESSORS_H_
#define VORNETH_PLATFORM_PROCESSORS_H_

#include <cstdint>

namespace vorneth {

// The processors the process may run on (its affinity), read once, at the
// first call: a process pinned when it was started stays counted as pinned.
// At least 1; 1 also when the count cannot be read.
int32_t UsableProcessorCount();

// One pause inside a busy wait: tells the processor that the thread polls,
// which spares the other hardware thread of the core and power.
inline void SpinPause() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_PROCESSORS_H_
