// The binary semaphore behind the library-directory lock: taken on one
// thread, given back on another, one holder at a time.
#include "platform/binary_semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "session/session_test_support.h"
#include "session/vorneth.h"

namespace vorneth::testing {
namespace {

TEST(BinarySemaphoreTest, ReleasedFromAnotherThreadLetsTheNextWaiterIn) {
  BinarySemaphore semaphore;
  semaphore.Acquire();
  EXPECT_FALSE(semaphore.TryAcquire());
  std::promise<void> entered;
  std::thread waiter([&] {
    semaphore.Acquire();
    entered.set_value();
  });
  // Given back by a thread that never took it.
  std::thread([&] { semaphore.Release(); }).join();
  EXPECT_EQ(entered.get_future().wait_for(kDeadline), std::future_status::ready);
  waiter.join();
  EXPECT_FALSE(semaphore.TryAcquire()) << "the waiter holds it now";
  semaphore.Release();
  semaphore.Release();  // a second release leaves one permit, not two
  EXPECT_TRUE(semaphore.TryAcquire());
  EXPECT_FALSE(semaphore.TryAcquire());
}

TEST(BinarySemaphoreTest, NeverTwoHolders) {
  BinarySemaphore semaphore;
  std::atomic<int> holders{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        semaphore.Acquire();
        if (holders.fetch_add(1) != 0) overlap = true;
        holders.fetch_sub(1);
        semaphore.Release();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(overlap);
}

// An add-on may lock the library directory on one of its threads and
// unlock it on another.
TEST(BinarySemaphoreTest, LibraryDirectoryUnlockedFromAnotherThread) {
  RecordingPage page;
  Vorneth session(kRefusedUrl, 0, &RecordingPage::Receive, &page, "1.0");
  EventCallback(&session, "LockDllDirectory", "");
  auto second = std::async(std::launch::async, [&] {
    EventCallback(&session, "LockDllDirectory", "");
    EventCallback(&session, "UnlockDllDirectory", "");
  });
  std::thread([&] { EventCallback(&session, "UnlockDllDirectory", ""); }).join();
  EXPECT_EQ(second.wait_for(kDeadline), std::future_status::ready);
  EXPECT_TRUE(page.Answers().empty());
}

}  // namespace
}  // namespace vorneth::testing
