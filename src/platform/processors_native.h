// The per-platform half of processors.h. Internal to the platform layer.
#ifndef VORNETH_PLATFORM_PROCESSORS_NATIVE_H_
#define VORNETH_PLATFORM_PROCESSORS_NATIVE_H_

#include <cstdint>

namespace vorneth::native {

// The processors in the process's affinity; 0 when it cannot be read.
int32_t AffinityProcessorCount();

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_PROCESSORS_NATIVE_H_
