#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "platform/thread_scheduling.h"

namespace vorneth {
namespace {

// The kernel's scheduling attributes, first version (48 bytes); the C
// library has no declaration of them.
struct SchedulingAttributes {
  uint32_t m_size;
  uint32_t m_policy;
  uint64_t m_flags;
  int32_t m_nice;
  uint32_t m_priority;
  uint64_t m_runtime;
  uint64_t m_deadline;
  uint64_t m_period;
};
static_assert(sizeof(SchedulingAttributes) == 48);

}  // namespace

// Linux: the length of a thread's turn among ordinary threads is the
// runtime of its scheduling attributes (kernels before 6.12 ignore it). The
// attributes are read first so that the class and the nice value stay.
void PreferLongTurns() {
  SchedulingAttributes attributes{};
  if (syscall(SYS_sched_getattr, 0, &attributes, sizeof attributes, 0) != 0) return;
  if (attributes.m_policy != SCHED_OTHER && attributes.m_policy != SCHED_BATCH) return;
  attributes.m_size = sizeof attributes;
  attributes.m_runtime = uint64_t{kLongTurnMicroseconds} * 1000;
  syscall(SYS_sched_setattr, 0, &attributes, 0);
}

}  // namespace vorneth
