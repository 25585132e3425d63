// The add-on instance table: ids, the live state, the active list, and the
// slots' workers.
#include "addons/addon_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "support/trace_recorder.h"

namespace vorneth::testing {
namespace {

void NoWork(void*, std::string, const Json::Value&, std::string) {}

std::unique_ptr<VornethCommandWorker> MakeWorker(int32_t workerId, VornethCommandCache* cache) {
  return std::make_unique<VornethCommandWorker>(workerId, cache, &NoWork, nullptr);
}

Json::Value Info(const char* uuid, const char* version) {
  Json::Value info(Json::objectValue);
  info["uuid"] = uuid;
  info["version"] = version;
  info["name"] = "Add-on";
  return info;
}

TEST(AddOnTableTest, IdsGrowAndAreNeverReused) {
  ClearTraceRecords();
  AddOnTable table;
  EXPECT_EQ(table.Reserve(&MakeWorker), 0);
  EXPECT_EQ(table.Reserve(&MakeWorker), 1);
  EXPECT_FALSE(table.IsLive(0)) << "a slot being created is not live";
  ASSERT_TRUE(table.SetLive(0, LibraryHandle(), 7, Info("{a}", "1")));
  EXPECT_TRUE(table.IsLive(0));
  const std::optional<LiveAddOn> cleared = table.Clear(0);
  ASSERT_TRUE(cleared.has_value());
  EXPECT_EQ(cleared->m_instance, 7);
  EXPECT_FALSE(table.Clear(0).has_value()) << "a cleared slot is not live any more";
  EXPECT_EQ(table.Reserve(&MakeWorker), 2);
  EXPECT_EQ(table.size(), 3);
  std::vector<std::string> ids;
  for (const TraceRecord& r : TraceRecords()) {
    if (r.scope == "VornethCommandWorker::VornethCommandWorker" && r.name == "id") ids.push_back(r.value);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"1000", "1001", "1002"}));
}

TEST(AddOnTableTest, OnlyExistingSlotsWithAnInstanceBecomeLive) {
  AddOnTable table;
  ASSERT_EQ(table.Reserve(&MakeWorker), 0);
  EXPECT_FALSE(table.SetLive(1, LibraryHandle(), 0, Info("{a}", "1")));
  EXPECT_FALSE(table.SetLive(-1, LibraryHandle(), 0, Info("{a}", "1")));
  EXPECT_FALSE(table.SetLive(0, LibraryHandle(), kNoAddOnInstance, Info("{a}", "1")));
  for (const int32_t id : {-1, 0, 1, 2147483647}) EXPECT_FALSE(table.IsLive(id)) << id;
  EXPECT_TRUE(table.LiveIds().empty());
  EXPECT_TRUE(table.ActiveAddOnList().isNull()) << "no live instance: no list at all";
}

TEST(AddOnTableTest, ActiveListHasOneEntryPerUuidInIdOrder) {
  AddOnTable table;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(table.Reserve(&MakeWorker), i);
  ASSERT_TRUE(table.SetLive(0, LibraryHandle(), 0, Info("{b}", "2")));
  ASSERT_TRUE(table.SetLive(1, LibraryHandle(), 0, Info("{a}", "1")));
  ASSERT_TRUE(table.SetLive(2, LibraryHandle(), 1, Info("{b}", "3")));
  EXPECT_EQ(table.LiveIds(), (std::vector<int32_t>{0, 1, 2}));
  const Json::Value list = table.ActiveAddOnList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], Info("{b}", "2")) << "the smallest id of an add-on is listed";
  EXPECT_EQ(list[1], Info("{a}", "1"));
}

TEST(AddOnTableTest, TakenWorkerAndCacheLeaveTheSlot) {
  AddOnTable table;
  ASSERT_EQ(table.Reserve(&MakeWorker), 0);
  const std::shared_ptr<VornethCommandCache> cache = table.CacheOf(0);
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(table.CacheOf(1), nullptr);
  EXPECT_EQ(table.LiveCache(0), nullptr) << "a slot being created takes no command from the session side";
  EXPECT_EQ(table.IdsWithWorker(), std::vector<int32_t>{0});
  AddOnSlot taken = table.TakeWorker(0);
  EXPECT_EQ(taken.m_cache, cache);
  ASSERT_NE(taken.m_worker, nullptr);
  EXPECT_TRUE(taken.m_worker->Started());
  EXPECT_EQ(table.CacheOf(0), nullptr);
  EXPECT_TRUE(table.IdsWithWorker().empty());
  taken.m_worker->Stop();
  EXPECT_EQ(table.TakeWorker(0).m_worker, nullptr);
}

// Reservations from several dispatch workers at once get distinct ids.
TEST(AddOnTableTest, ConcurrentReservationsGetDistinctIds) {
  AddOnTable table;
  std::vector<std::thread> threads;
  std::vector<std::vector<int32_t>> got(3);
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) got[t].push_back(table.Reserve(&MakeWorker).value_or(-1));
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<bool> seen(30, false);
  for (const auto& ids : got) {
    for (const int32_t id : ids) {
      ASSERT_TRUE(id >= 0 && id < 30) << id;
      EXPECT_FALSE(seen[id]) << id;
      seen[id] = true;
    }
  }
  EXPECT_EQ(table.size(), 30);
}

}  // namespace
}  // namespace vorneth::testing
