#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "platform/thread_scheduling.h"

namespace vorneth {
namespace {

struct Attributes {
  uint32_t size, policy;
  uint64_t flags;
  int32_t nice;
  uint32_t priority;
  uint64_t runtime, deadline, period;
};

Attributes Read() {
  Attributes attributes{};
  EXPECT_EQ(syscall(SYS_sched_getattr, 0, &attributes, sizeof attributes, 0), 0);
  return attributes;
}

// The hint changes the length of the thread's turns and nothing else: a
// thread started with another nice value or class keeps it.
TEST(ThreadSchedulingTest, LongTurnsKeepTheClassAndTheNiceValue) {
  std::thread([] {
    ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 7), 0);
    const Attributes before = Read();
    PreferLongTurns();
    const Attributes after = Read();
    EXPECT_EQ(after.policy, before.policy);
    EXPECT_EQ(after.nice, 7);
    // Kernels that know a fair thread's turn report the new length.
    if (before.runtime != 0) {
      EXPECT_EQ(after.runtime, uint64_t{kLongTurnMicroseconds} * 1000);
    }
  }).join();

  std::thread([] {
    sched_param param{};
    ASSERT_EQ(sched_setscheduler(0, SCHED_BATCH, &param), 0);
    PreferLongTurns();
    EXPECT_EQ(Read().policy, static_cast<uint32_t>(SCHED_BATCH));
  }).join();
}

}  // namespace
}  // namespace vorneth
