#include "session/refusing_thread_start.h"

#include <atomic>
#include <system_error>

#include "dispatch/joinable_thread.h"

namespace vorneth {
namespace testing {
namespace {

// Threads still to give out; negative for no limit.
std::atomic<int> g_threadsLeft{-1};

bool TakeOne() {
  int left = g_threadsLeft.load();
  while (left != 0) {
    if (left < 0) return true;
    if (g_threadsLeft.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

}  // namespace

void AllowThreads(int count) {
  g_threadsLeft = count;
}

}  // namespace testing

Status StartThread(std::thread& thread, std::function<void()> body) {
  if (!testing::TakeOne()) {
    return Status::Failed(std::error_code(EAGAIN, std::generic_category()).message());
  }
  thread = std::thread(std::move(body));
  return Status::Ok();
}

}  // namespace vorneth
