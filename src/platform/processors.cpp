#include "platform/processors.h"

#include "platform/processors_native.h"

namespace vorneth {

int32_t UsableProcessorCount() {
  static const int32_t count = [] {
    const int32_t affinity = native::AffinityProcessorCount();
    return affinity > 0 ? affinity : 1;
  }();
  return count;
}

}  // namespace vorneth
