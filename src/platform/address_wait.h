// Waiting for a 32-bit word to change, without a lock around it.
//
// A thread that waits for one particular other thread to hand it something
// sleeps on a word of its own, and the other thread, once it has changed the
// word, wakes it. Neither side takes a lock for it, so a woken thread runs
// at once instead of first waiting for the lock its waker still holds.
//
// WaitWhileEqual may return without a change (spuriously): callers wait in
// a loop on their condition. Waking a word nobody waits on does nothing, and
// waking a word whose owner has already gone (its memory reused) is harmless:
// it can only cause such a spurious return elsewhere. So a waker may change
// the word, let go of everything and only then wake it.
//
// Linux: the futex of the word. Windows: WaitOnAddress.
#ifndef VORNETH_PLATFORM_ADDRESS_WAIT_H_
#define VORNETH_PLATFORM_ADDRESS_WAIT_H_

#include <atomic>
#include <cstdint>

namespace vorneth {

// Sleeps while `word` holds `value`; returns when it may have changed.
void WaitWhileEqual(std::atomic<uint32_t>& word, uint32_t value);
// Wakes one thread waiting on `word`.
void WakeOneWaiter(std::atomic<uint32_t>& word);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_ADDRESS_WAIT_H_
