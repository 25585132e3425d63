#include <sched.h>

#include "platform/processors_native.h"

namespace vorneth::native {

int32_t AffinityProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
  return CPU_COUNT(&set);
}

}  // namespace vorneth::native
