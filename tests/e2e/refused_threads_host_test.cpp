// The built host in a process that runs out of threads: a session whose
// dispatch workers cannot all start answers its page commands ["Error"] at
// once, and the host goes on reading and answering.
#include <gtest/gtest.h>

#include <string>

#include "host_process.h"

namespace vorneth::testing {
namespace {

constexpr std::chrono::milliseconds kAnswer{10000};

// Threads the host's runtime starts before any of its own: Clang's thread
// sanitizer (linked into the host) starts its background thread through
// the first pthread_create, which the preloaded library counts.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORNETH_CLANG_THREAD_SANITIZER
#endif
#endif
#ifdef VORNETH_CLANG_THREAD_SANITIZER
constexpr int kRuntimeThreads = 1;
#else
constexpr int kRuntimeThreads = 0;
#endif

HostProcessOptions AllowingThreads(int count) {
  HostProcessOptions options;
  options.environment = {
      {"LD_PRELOAD", std::string(REFUSE_THREADS_LIBRARY)},
      {"VORNETH_TEST_THREADS_ALLOWED", std::to_string(count)},
      // A sanitizer runtime would otherwise insist on coming first.
      {"ASAN_OPTIONS", std::string("verify_asan_link_order=0")},
  };
  return options;
}

TEST(RefusedThreadsHostTest, SessionWithoutWorkersAnswersErrorAndTheHostGoesOn) {
  // Three threads: the first session's workers; the second gets none.
  HostProcess host(AllowingThreads(kRuntimeThreads + 3));
  ASSERT_TRUE(host.Start()) << host.error();
  ASSERT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
  ASSERT_TRUE(host.Send(PageCommand("GetVersion", "[]", "1", "p")));
  EXPECT_EQ(host.ReadFrame(kAnswer).value_or(""),
            R"({"callbackId":"1","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})");

  ASSERT_TRUE(host.Send(Create("https://page.test/", "1.0", "p")));
  for (const char* id : {"2", "3", "4", "5"}) {
    ASSERT_TRUE(host.Send(PageCommand("GetVersion", "[]", id, "p")));
    EXPECT_EQ(host.ReadFrame(kAnswer).value_or(""), std::string(R"({"callbackId":")") + id +
                                                        R"(","instanceId":0,"portId":"p","response":["Error"],)"
                                                        R"("rtype":"Vorneth"})");
  }
  ASSERT_TRUE(host.Send(HostCommand("GetHostVersion", "[]", "6", "p")));
  EXPECT_EQ(host.ReadFrame(kAnswer).value_or(""),
            R"({"callbackId":"6","instanceId":0,"portId":"p","response":"2.15.0.0","rtype":"Vorneth-I"})");
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kAnswer), 0);
}

}  // namespace
}  // namespace vorneth::testing
