// Threads of one process sharing the store: no change is lost and no read
// sees a partial file.
#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "store_test_support.h"

namespace vorneth::testing {
namespace {

constexpr int kWriters = 6;
constexpr int kChangesPerWriter = 20;

std::string Origin(int writer, int change) {
  return "https://w" + std::to_string(writer) + "-" + std::to_string(change) + ".example";
}

using StoreThreadsTest = StoreTest;

TEST_F(StoreThreadsTest, ConcurrentChangesAreAllKeptAndReadsAreNeverPartial) {
  std::atomic<int> writersLeft{kWriters};
  std::atomic<int> readFailures{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([this, w, &writersLeft] {
      // Half the writers deny origins, half record add-ons: the two kinds
      // change different members of one document.
      for (int i = 0; i < kChangesPerWriter; ++i) {
        if (w % 2 == 0) {
          EXPECT_OK(store::SetDomainDenied(Folder(), Origin(w, i)));
        } else {
          EXPECT_OK(
              store::SetInstalled(Folder(), "addon-" + std::to_string(w), std::to_string(i), "o", "p", "n", "d", "i"));
        }
      }
      --writersLeft;
    });
  }
  // A reader sees the blacklist only grow, and every read parses.
  threads.emplace_back([&] {
    Json::ArrayIndex seen = 0;
    for (int round = 0; round < 100000 && writersLeft.load() > 0; ++round) {
      const Json::Value list = store::ReadPermList(Folder());
      if (!list.isNull() && !list.isArray()) ++readFailures;
      if (list.size() < seen) ++readFailures;
      seen = list.size();
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(readFailures.load(), 0);

  std::map<std::string, int> counts;
  for (const Json::Value& entry : store::ReadPermList(Folder())) ++counts[entry.asString()];
  EXPECT_EQ(counts.size(), static_cast<size_t>((kWriters + 1) / 2 * kChangesPerWriter));
  for (int w = 0; w < kWriters; w += 2) {
    for (int i = 0; i < kChangesPerWriter; ++i) EXPECT_EQ(counts[Origin(w, i)], 1) << Origin(w, i);
  }
  const Json::Value addOns = store::ReadAddOnList(Folder());
  ASSERT_EQ(addOns.size(), static_cast<Json::ArrayIndex>(kWriters / 2));
  for (const Json::Value& record : addOns) EXPECT_EQ(record["version"].size(), Json::ArrayIndex{kChangesPerWriter});
}

}  // namespace
}  // namespace vorneth::testing
