#include "dispatch/command_cache.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/dispatch_test_support.h"
#include "platform/mutex.h"
#include "support/trace_recorder.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;

struct Entry {
  std::string command;
  Json::Value params;
  std::string callbackId;
};

// Every test runs its producers and consumers on threads the fixture owns;
// TearDown releases the cache, which makes every one of them return.
class CommandCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearTraceRecords(); }
  void TearDown() override {
    m_cache.ReleaseGet();
    for (std::thread& thread : m_threads) thread.join();
  }

  std::future<void> AsyncPut(const std::string& command, const std::string& callbackId = "cb") {
    auto done = std::make_shared<std::promise<void>>();
    m_threads.emplace_back([this, done, command, callbackId] {
      m_cache.Put(command, Json::Value(Json::arrayValue), callbackId);
      done->set_value();
    });
    return done->get_future();
  }

  // The taken entry, or nullopt when Get returned false.
  std::future<std::optional<Entry>> AsyncGet() {
    auto done = std::make_shared<std::promise<std::optional<Entry>>>();
    m_threads.emplace_back([this, done] {
      Entry entry;
      const bool taken = m_cache.Get(entry.command, entry.params, entry.callbackId);
      done->set_value(taken ? std::optional<Entry>(entry) : std::nullopt);
    });
    return done->get_future();
  }

  static bool StoredCountIs(size_t n) { return TraceCountMessage("Command stored") == n; }

  VornethCommandCache m_cache;
  std::vector<std::thread> m_threads;
};

std::vector<std::string> NumbersNamed(const std::string& scope, const std::string& name) {
  std::vector<std::string> values;
  for (const TraceRecord& record : TraceRecords()) {
    if (record.kind == "number" && record.scope == scope && record.name == name) values.push_back(record.value);
  }
  return values;
}

TEST_F(CommandCacheTest, PutReturnsOnlyOnceAConsumerHasTakenTheCommand) {
  Json::Value params(Json::arrayValue);
  params.append("https://example.test/a.zip");
  params.append(7);
  auto returned = std::make_shared<std::promise<bool>>();
  std::future<bool> put = returned->get_future();
  m_threads.emplace_back([this, params, returned] {
    m_cache.Put("InstallAddOns", Json::Value(params), "cb-17");
    returned->set_value(TraceHasMessage("Command withdrawed"));
  });

  ASSERT_TRUE(WaitUntil([] { return StoredCountIs(1); }));
  EXPECT_FALSE(IsReady(put, milliseconds(50))) << "Put returned with no consumer";

  Entry entry;
  ASSERT_TRUE(m_cache.Get(entry.command, entry.params, entry.callbackId));
  ASSERT_TRUE(IsReady(put));
  EXPECT_TRUE(put.get()) << "Put returned before the take was complete";
  EXPECT_EQ(entry.command, "InstallAddOns");
  EXPECT_EQ(entry.params, params);
  EXPECT_EQ(entry.callbackId, "cb-17");
}

TEST_F(CommandCacheTest, SlotIndicesWrapAroundTheRing) {
  for (int i = 0; i < 5; ++i) {
    auto get = AsyncGet();
    ASSERT_TRUE(PutWithin(m_cache, "Cmd" + std::to_string(i), Json::Value(Json::arrayValue), ""));
    ASSERT_TRUE(IsReady(get));
    ASSERT_EQ(get.get()->command, "Cmd" + std::to_string(i));
  }
  const std::vector<std::string> expected = {"0", "1", "2", "3", "0"};
  EXPECT_EQ(NumbersNamed("VornethCommandCache::Put()", "this->m_write"), expected);
  EXPECT_EQ(NumbersNamed("VornethCommandCache::Get()", "this->m_read"), expected);
}

TEST_F(CommandCacheTest, HoldsThreeCommandsAndHandsThemOutFirstInFirstOut) {
  std::vector<std::future<void>> puts;
  for (size_t i = 0; i < 3; ++i) {
    puts.push_back(AsyncPut("Cmd" + std::to_string(i)));
    ASSERT_TRUE(WaitUntil([&] { return StoredCountIs(i + 1); }));
  }
  EXPECT_FALSE(TraceHasMessage("Full queue, waiting"));
  puts.push_back(AsyncPut("Cmd3"));
  ASSERT_TRUE(WaitUntil([] { return TraceHasMessage("Full queue, waiting", "VornethCommandCache::Put()"); }));
  EXPECT_TRUE(StoredCountIs(3)) << "a fourth command went into a full ring";
  for (auto& put : puts) EXPECT_FALSE(IsReady(put, milliseconds(0)));

  for (int i = 0; i < 4; ++i) {
    auto get = AsyncGet();
    ASSERT_TRUE(IsReady(get));
    std::optional<Entry> entry = get.get();
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->command, "Cmd" + std::to_string(i));
  }
  for (auto& put : puts) EXPECT_TRUE(IsReady(put));
}

TEST_F(CommandCacheTest, ReleaseWakesAWaitingGetAndEveryLaterGetFails) {
  auto waiting = AsyncGet();
  EXPECT_FALSE(IsReady(waiting, milliseconds(20)));
  m_cache.ReleaseGet();
  ASSERT_TRUE(IsReady(waiting));
  EXPECT_FALSE(waiting.get().has_value());

  m_cache.ReleaseGet();  // a second release changes nothing
  Entry entry{"untouched", Json::Value(1), "untouched"};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(m_cache.Get(entry.command, entry.params, entry.callbackId));
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(10)) << "a released Get must pause";
  EXPECT_EQ(entry.command, "untouched");

  // A consumer told to stop is leaving and is not held up: five such Gets
  // would take at least 50 ms with the pause.
  const std::atomic<bool> stopRequested{true};
  const auto leaving = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    bool takenAfterStop = true;
    EXPECT_FALSE(m_cache.Get(entry.command, entry.params, entry.callbackId, stopRequested, takenAfterStop));
    EXPECT_FALSE(takenAfterStop);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - leaving, milliseconds(50)) << "a stopping consumer must not pause";
  EXPECT_EQ(entry.command, "untouched");
}

TEST_F(CommandCacheTest, ReleaseFreesWaitingProducersAndDeliversNothing) {
  std::vector<std::future<void>> puts;
  for (size_t i = 0; i < 3; ++i) {
    puts.push_back(AsyncPut("Held" + std::to_string(i)));
    ASSERT_TRUE(WaitUntil([&] { return StoredCountIs(i + 1); }));
  }
  puts.push_back(AsyncPut("WaitingForRoom"));
  ASSERT_TRUE(WaitUntil([] { return TraceHasMessage("Full queue, waiting"); }));

  m_cache.ReleaseGet();
  for (auto& put : puts) EXPECT_TRUE(IsReady(put));
  auto get = AsyncGet();
  ASSERT_TRUE(IsReady(get));
  EXPECT_FALSE(get.get().has_value()) << "a held command was delivered after the release";

  const size_t stored = TraceCountMessage("Command stored");
  auto late = AsyncPut("AfterRelease");
  EXPECT_TRUE(IsReady(late));
  EXPECT_EQ(TraceCountMessage("Command stored"), stored);
  EXPECT_FALSE(TraceHasMessage("Command withdrawed"));
}

// Idle consumers are handed commands directly, busy ones come back to the
// ring: whichever way a command goes, each is delivered exactly once, every
// Put returns, and a released cache lets every consumer go.
void DeliverEveryCommandExactlyOnce(VornethCommandCache& cache) {
  constexpr int kProducers = 3;
  constexpr int kConsumers = 3;
  constexpr int kPerProducer = 400;
  Mutex takenLock;
  std::vector<std::string> taken;
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c) {
    consumers.emplace_back([&, c] {
      Entry entry;
      for (int n = 0; cache.Get(entry.command, entry.params, entry.callbackId); ++n) {
        // Some commands keep their consumer busy, so producers meet both an
        // idle consumer and a full ring.
        if ((n + c) % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        {
          MutexLock lock(&takenLock);
          taken.push_back(entry.command + "/" + entry.callbackId + "/" + entry.params[0].asString());
        }
        cache.CommandFinished();
      }
    });
  }
  std::vector<std::future<void>> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.push_back(std::async(std::launch::async, [&cache, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        const std::string id = std::to_string(p) + "-" + std::to_string(i);
        Json::Value params(Json::arrayValue);
        params.append(id);
        cache.Put("Cmd" + id, std::move(params), "cb" + id);
      }
    }));
  }
  for (auto& producer : producers) ASSERT_TRUE(IsReady(producer)) << "a Put never returned";
  const size_t expected = size_t{kProducers} * kPerProducer;
  ASSERT_TRUE(WaitUntil([&] {
    MutexLock lock(&takenLock);
    return taken.size() >= expected;
  }));
  cache.ReleaseGet();
  for (std::thread& consumer : consumers) consumer.join();

  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(std::adjacent_find(taken.begin(), taken.end()), taken.end()) << "a command was delivered twice";
  ASSERT_EQ(taken.size(), expected);
  for (int p = 0; p < kProducers; ++p) {
    for (int i = 0; i < kPerProducer; ++i) {
      const std::string id = std::to_string(p) + "-" + std::to_string(i);
      EXPECT_TRUE(std::binary_search(taken.begin(), taken.end(), "Cmd" + id + "/cb" + id + "/" + id)) << id;
    }
  }
}

TEST_F(CommandCacheTest, ManyProducersAndConsumersDeliverEveryCommandExactlyOnce) {
  DeliverEveryCommandExactlyOnce(m_cache);
}

// Consumers that poll before they sleep take the hand-over either way.
TEST(PollingCommandCacheTest, ManyProducersAndConsumersDeliverEveryCommandExactlyOnce) {
  VornethCommandCache cache(VornethCommandCache::IdleConsumers::kPoll);
  DeliverEveryCommandExactlyOnce(cache);
}

// A producer learns whether its command reached a consumer: those still held
// when the cache is released never do.
TEST_F(CommandCacheTest, PutTellsWhetherItsCommandWasTaken) {
  auto get = AsyncGet();
  EXPECT_TRUE(m_cache.Put("Taken", Json::Value(Json::arrayValue), "cb"));
  ASSERT_TRUE(IsReady(get));

  std::vector<std::future<bool>> held;
  for (size_t i = 0; i < 3; ++i) {
    held.push_back(std::async(std::launch::async, [this, i] {
      return m_cache.Put("Held" + std::to_string(i), Json::Value(Json::arrayValue), "cb");
    }));
    ASSERT_TRUE(WaitUntil([&] { return StoredCountIs(i + 2); }));
  }
  m_cache.ReleaseGet();
  for (auto& put : held) {
    ASSERT_TRUE(IsReady(put));
    EXPECT_FALSE(put.get()) << "a command held at the release was reported taken";
  }
  EXPECT_FALSE(m_cache.Put("AfterRelease", Json::Value(Json::arrayValue), "cb"));
}

}  // namespace
}  // namespace vorneth::testing
