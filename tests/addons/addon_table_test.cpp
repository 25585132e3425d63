// The add-on instance table: ids, the live state, the active list, and the
// slots' workers.
#include "addons/addon_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "support/trace_recorder.h"
#include "support/wait_until.h"

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

// Ends a slot as the owner does: asks its worker to stop, wakes it, takes it
// and joins it.
void EndSlot(AddOnTable& table, int32_t addonId) {
  table.WorkerOf(addonId)->PrepareStop();
  table.CacheOf(addonId)->ReleaseGet();
  AddOnSlot taken = table.TakeWorker(addonId);
  ASSERT_NE(taken.m_worker, nullptr) << addonId;
  taken.m_worker->Join();
}

// Every lookup of `addonId` answers as for a cleared slot without worker.
void ExpectGone(const AddOnTable& table, int32_t addonId) {
  EXPECT_FALSE(table.IsLive(addonId)) << addonId;
  EXPECT_FALSE(table.Live(addonId).has_value()) << addonId;
  EXPECT_EQ(table.LiveCache(addonId), nullptr) << addonId;
  EXPECT_EQ(table.CacheOf(addonId), nullptr) << addonId;
  EXPECT_EQ(table.WorkerOf(addonId), nullptr) << addonId;
  const std::vector<int32_t> withWorker = table.IdsWithWorker();
  EXPECT_EQ(std::count(withWorker.begin(), withWorker.end(), addonId), 0) << addonId;
}

TEST(AddOnTableTest, DisposedSlotsAreDroppedButTheirIdsAreNotReused) {
  AddOnTable table;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(table.Reserve(&MakeWorker), i);
  ASSERT_TRUE(table.SetLive(1, LibraryHandle(), 5, Info("{a}", "1")));
  ASSERT_TRUE(table.Clear(1).has_value());
  EndSlot(table, 1);
  EXPECT_EQ(table.SlotCount(), 2u) << "a cleared slot without worker is dropped";
  ExpectGone(table, 1);
  EXPECT_FALSE(table.Clear(1).has_value());
  EXPECT_FALSE(table.SetLive(1, LibraryHandle(), 0, Info("{a}", "1"))) << "a dropped slot never becomes live";
  AddOnSlot none = table.TakeWorker(1);
  EXPECT_EQ(none.m_worker, nullptr);
  EXPECT_EQ(none.m_cache, nullptr);
  EXPECT_EQ(table.Reserve(&MakeWorker), 3) << "ids go on after the dropped one";
  EXPECT_EQ(table.size(), 4);
  EXPECT_EQ(table.IdsWithWorker(), (std::vector<int32_t>{0, 2, 3}));

  // A live slot keeps its instance when its worker is taken: only slots
  // that are not live are dropped.
  ASSERT_TRUE(table.SetLive(2, LibraryHandle(), 9, Info("{b}", "1")));
  EndSlot(table, 2);
  ASSERT_TRUE(table.Live(2).has_value());
  EXPECT_EQ(table.Live(2)->m_instance, 9);
  EXPECT_EQ(table.LiveIds(), std::vector<int32_t>{2});
  EXPECT_EQ(table.ActiveAddOnList().size(), 1u);
  EndSlot(table, 0);
  EndSlot(table, 3);
}

// A page that creates and disposes instances for long keeps the table at
// the size of what it holds.
TEST(AddOnTableTest, ManyCreationsAndDisposalsKeepTheTableSmall) {
  AddOnTable table;
  ASSERT_EQ(table.Reserve(&MakeWorker), 0);
  ASSERT_TRUE(table.SetLive(0, LibraryHandle(), 0, Info("{kept}", "1")));
  constexpr int32_t kCycles = 200;
  for (int32_t i = 1; i <= kCycles; ++i) {
    ASSERT_EQ(table.Reserve(&MakeWorker), i);
    ASSERT_TRUE(table.SetLive(i, LibraryHandle(), i, Info("{a}", "1")));
    ASSERT_TRUE(table.Clear(i).has_value());
    EndSlot(table, i);
    ASSERT_EQ(table.SlotCount(), 1u) << "after " << i;
  }
  EXPECT_EQ(table.size(), kCycles + 1);
  EXPECT_EQ(table.LiveIds(), std::vector<int32_t>{0});
  for (const int32_t id : {1, kCycles / 2, kCycles}) ExpectGone(table, id);
  table.Clear(0);
  EndSlot(table, 0);
  EXPECT_EQ(table.SlotCount(), 0u);
}

TEST(AddOnTableTest, FailedCreationsAreTakenOnceTheirWorkerHasEnded) {
  AddOnTable table;
  ASSERT_EQ(table.Reserve(&MakeWorker), 0);
  ASSERT_EQ(table.Reserve(&MakeWorker), 1);
  ASSERT_TRUE(table.SetLive(1, LibraryHandle(), 0, Info("{a}", "1")));
  EXPECT_FALSE(table.MarkFailed(1)) << "a live slot did not fail";
  EXPECT_FALSE(table.MarkFailed(2)) << "no such slot";
  ASSERT_TRUE(table.MarkFailed(0));
  EXPECT_TRUE(table.TakeEndedFailed().empty()) << "its worker still waits for commands";
  EXPECT_EQ(table.IdsWithWorker(), (std::vector<int32_t>{0, 1}));

  table.WorkerOf(0)->PrepareStop();
  table.CacheOf(0)->ReleaseGet();
  VornethCommandWorker* worker = table.WorkerOf(0);
  ASSERT_TRUE(WaitUntil([&] { return worker->Ended(); }));
  std::vector<AddOnSlot> taken = table.TakeEndedFailed();
  ASSERT_EQ(taken.size(), 1u) << "only the failed slot";
  EXPECT_EQ(taken[0].m_worker.get(), worker);
  taken[0].m_worker->Join();
  EXPECT_TRUE(table.TakeEndedFailed().empty()) << "handed out once";
  ExpectGone(table, 0);
  EXPECT_EQ(table.SlotCount(), 1u);
  EXPECT_EQ(table.Reserve(&MakeWorker), 2);
  table.Clear(1);
  EndSlot(table, 1);
  EndSlot(table, 2);
}

// Idle: what a session's end may wait for is gone.
TEST(AddOnTableTest, IdleOnlyWithoutLiveInstancesOrRunningWorkers) {
  AddOnTable table;
  EXPECT_TRUE(table.Idle());
  ASSERT_EQ(table.Reserve(&MakeWorker), 0);
  EXPECT_FALSE(table.Idle()) << "a creation is running";
  ASSERT_TRUE(table.SetLive(0, LibraryHandle(), 0, Info("{a}", "1")));
  EXPECT_FALSE(table.Idle());
  ASSERT_TRUE(table.Clear(0).has_value());
  EXPECT_FALSE(table.Idle()) << "the disposal's worker still runs";
  EndSlot(table, 0);
  EXPECT_TRUE(table.Idle());

  // A failed creation whose worker has ended no longer counts, taken or not.
  ASSERT_EQ(table.Reserve(&MakeWorker), 1);
  ASSERT_TRUE(table.MarkFailed(1));
  EXPECT_FALSE(table.Idle());
  table.WorkerOf(1)->PrepareStop();
  table.CacheOf(1)->ReleaseGet();
  VornethCommandWorker* worker = table.WorkerOf(1);
  ASSERT_TRUE(WaitUntil([&] { return worker->Ended(); }));
  EXPECT_TRUE(table.Idle());
  EXPECT_EQ(table.TakeEndedFailed().size(), 1u);
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
