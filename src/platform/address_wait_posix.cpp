#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/address_wait.h"

namespace vorneth {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the kernel waits on the word itself");

long Futex(std::atomic<uint32_t>& word, int operation, uint32_t value) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), operation, value, nullptr, nullptr, 0);
}

}  // namespace

// EINTR and EAGAIN (the word had already changed) both just return: the
// caller looks at the word again.
void WaitWhileEqual(std::atomic<uint32_t>& word, uint32_t value) {
  if (word.load(std::memory_order_acquire) != value) return;
  Futex(word, FUTEX_WAIT_PRIVATE, value);
}

void WakeOneWaiter(std::atomic<uint32_t>& word) {
  Futex(word, FUTEX_WAKE_PRIVATE, 1);
}

}  // namespace vorneth
