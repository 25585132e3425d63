#include <windows.h>

#include "platform/address_wait.h"

namespace vorneth {

void WaitWhileEqual(std::atomic<uint32_t>& word, uint32_t value) {
  if (word.load(std::memory_order_acquire) != value) return;
  WaitOnAddress(&word, &value, sizeof value, INFINITE);
}

void WakeOneWaiter(std::atomic<uint32_t>& word) {
  WakeByAddressSingle(&word);
}

}  // namespace vorneth
