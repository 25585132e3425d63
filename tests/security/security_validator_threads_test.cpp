// Signature checks from several threads at once, the first ones racing to
// prepare the built-in key and to choose the compression function.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "security/openssl_oracle.h"
#include "security/security_validator.h"
#include "vorneth_public_key.h"

namespace vorneth {
namespace {

using testing::Bytes;

TEST(SecurityValidatorThreads, ConcurrentChecksAllAgreeWithTheSignatures) {
  const testing::DevelopmentKey key;
  ASSERT_TRUE(key.loaded());
  if (testing::ToHex(key.modulus()) != kPublicKeyModulusHex) GTEST_SKIP() << "built with another key";
  std::mt19937 random(51);
  constexpr int kThreads = 4;
  constexpr int kChecks = 25;
  std::vector<Bytes> messages;
  std::vector<Bytes> signatures;
  for (int i = 0; i < kChecks; ++i) {
    messages.push_back(testing::RandomBytes(random, 100 + 37 * static_cast<size_t>(i)));
    signatures.push_back(key.Sign(messages.back()));
  }

  std::atomic<int> right{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kChecks; ++i) {
        // Odd threads check a signature against the next message: false.
        const int m = t % 2 == 0 ? i : (i + 1) % kChecks;
        const bool expected = m == i;
        const bool result = SecurityValidator::ValidateSignature(messages[m].data(), messages[m].size(),
                                                                 signatures[i].data(), signatures[i].size());
        if (result == expected) right.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(right.load(), kThreads * kChecks);
}

}  // namespace
}  // namespace vorneth
