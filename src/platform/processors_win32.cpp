#include <windows.h>

#include <bitset>

#include "platform/processors_native.h"

namespace vorneth::native {

int32_t AffinityProcessorCount() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 0;
  return static_cast<int32_t>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
}

}  // namespace vorneth::native
