// Bounded polling for tests: nothing here waits longer than kDeadline, so a
// broken hand-over or a thread that never ends fails a test instead of
// hanging it.
#ifndef VORNETH_TESTS_SUPPORT_WAIT_UNTIL_H_
#define VORNETH_TESTS_SUPPORT_WAIT_UNTIL_H_

#include <chrono>
#include <thread>

namespace vorneth::testing {

inline constexpr std::chrono::seconds kDeadline{10};

// Polls `done` every millisecond until it holds (true) or kDeadline has
// passed (false).
template <typename Predicate>
bool WaitUntil(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_WAIT_UNTIL_H_
