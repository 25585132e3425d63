// EventCallback against a real session: secure data, the origin, the
// library-directory lock and event relay.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "session/vorneth.h"
#include "store/domain_permissions.h"
#include "store/store_folder.h"
#include "support/scratch_dir.h"
#include "trace_recorder.h"

namespace vorneth {
namespace {

using testing::ScratchDir;

std::mutex g_sentLock;
std::vector<std::string> g_sent;

void Capture(MessageText message, void* /*context*/, int32_t /*instanceId*/) {
  std::lock_guard<std::mutex> lock(g_sentLock);
  g_sent.push_back(std::move(message).TakeText());
}

std::vector<std::string> Sent() {
  std::lock_guard<std::mutex> lock(g_sentLock);
  return g_sent;
}

// The store is a scratch folder of the test's own, handed to the session.
store::StoreLocator StoreIn(const ScratchDir& scratch) {
  return [folder = scratch.path()] { return store::StoreFolder(folder); };
}

class EventCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.path().empty());
    {
      std::lock_guard<std::mutex> lock(g_sentLock);
      g_sent.clear();
    }
    m_session = std::make_unique<Vorneth>("https://Page.test:444/app", 0, &Capture, nullptr, "1.0", StoreIn(m_scratch));
  }
  void TearDown() override { m_session.reset(); }

  const char* Call(const char* name, const char* data) { return EventCallback(m_session.get(), name, data); }

  ScratchDir m_scratch;
  std::unique_ptr<Vorneth> m_session;
};

// The store handed in is the session's: a host command changes it, and a
// session made later on it finds its origin blocked.
TEST_F(EventCallbackTest, TheSessionKeepsItsRecordsInTheStoreHandedIn) {
  EXPECT_FALSE(m_session->blacklisted());
  m_session->VornethDispatchInternal("SetDomainDenied", Json::Value(Json::arrayValue), "7");
  const Json::Value denied = store::ReadPermList(store::StoreFolder(m_scratch.path()));
  ASSERT_TRUE(denied.isArray());
  ASSERT_EQ(denied.size(), 1u);
  EXPECT_EQ(denied[0].asString(), "https://Page.test:444");

  const Vorneth later("https://Page.test:444/other", 1, &Capture, nullptr, "1.0", StoreIn(m_scratch));
  EXPECT_TRUE(later.blacklisted());
}

TEST_F(EventCallbackTest, SecureDataCycle) {
  const char* first = Call("SetSecureData", "secret-a");
  const char* second = Call("SetSecureData", "");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(first, "0");
  EXPECT_STREQ(second, "1");
  // Handed-out texts stay put while more data arrives.
  for (int i = 0; i < 100; ++i) Call("SetSecureData", "filler");
  EXPECT_STREQ(first, "0");

  const char* fetched = Call("GetSecureData", "0");
  ASSERT_NE(fetched, nullptr);
  EXPECT_STREQ(fetched, "secret-a");
  const char* empty = Call("GetSecureData", "1");
  ASSERT_NE(empty, nullptr) << "an empty datum is not a released one";
  EXPECT_STREQ(empty, "");

  EXPECT_EQ(Call("AckGetSecureData", "0"), nullptr);
  EXPECT_EQ(Call("GetSecureData", "0"), nullptr);
  EXPECT_EQ(Call("AckGetSecureData", "0"), nullptr) << "a second release does nothing";
  EXPECT_STREQ(Call("GetSecureData", "1"), "");
  // Releasing the handle text leaves the datum alone.
  EXPECT_EQ(Call("AckSetSecureData", "1"), nullptr);
  EXPECT_STREQ(Call("GetSecureData", "1"), "");
  // Handles are read like atoi: blanks, sign and trailing bytes.
  EXPECT_STREQ(Call("GetSecureData", " +1xyz"), "");
  EXPECT_STREQ(Call("GetSecureData", "2"), "filler");
}

TEST_F(EventCallbackTest, HandlesOutOfRangeAreRefused) {
  Call("SetSecureData", "only");
  for (const char* handle : {"-1", "1", "99999999999999999999", "-99999999999999999999", "2147483648"}) {
    EXPECT_EQ(Call("GetSecureData", handle), nullptr) << handle;
    EXPECT_EQ(Call("AckGetSecureData", handle), nullptr) << handle;
    EXPECT_EQ(Call("AckSetSecureData", handle), nullptr) << handle;
  }
  // A text without digits reads as 0.
  EXPECT_STREQ(Call("GetSecureData", "abc"), "only");
  EXPECT_TRUE(Sent().empty()) << "secure-data calls never reach the page";
}

TEST_F(EventCallbackTest, GetDomainAndNullContext) {
  EXPECT_STREQ(Call("GetDomain", nullptr), "https://Page.test:444");
  EXPECT_EQ(EventCallback(nullptr, "GetDomain", ""), nullptr);
  EXPECT_EQ(EventCallback(nullptr, "tick", "x"), nullptr);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(testing::TraceHasMessage("EventCallback: Error! Vorneth object is NULL!!"));
}

TEST_F(EventCallbackTest, OtherNamesAreRelayedToThePageAsEvents) {
  EXPECT_EQ(Call("tick", "{\"n\":1}\n"), nullptr);
  EXPECT_EQ(Call("setsecuredata", "not a request: wrong case"), nullptr);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], R"({"event":"tick","instanceId":0,"response":"{\"n\":1}\n","rtype":"Vorneth-E"})");
  EXPECT_EQ(sent[1],
            R"({"event":"setsecuredata","instanceId":0,"response":"not a request: wrong case","rtype":"Vorneth-E"})");
}

TEST_F(EventCallbackTest, LibraryDirectoryLockExcludesOtherCallers) {
  Call("LockDllDirectory", "");
  auto other = std::async(std::launch::async, [&] {
    Call("LockDllDirectory", "");
    Call("UnlockDllDirectory", "");
  });
  EXPECT_EQ(other.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
      << "a second locker must wait for the first";
  Call("UnlockDllDirectory", "");
  EXPECT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(EventCallbackTest, EventsFromManyThreadsAllArriveWhole) {
  constexpr int kThreads = 4;
  constexpr int kEvents = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEvents; ++i) {
        const std::string data = std::to_string(t) + ":" + std::to_string(i);
        Call("tick", data.c_str());
        Call("SetSecureData", data.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(Sent().size(), static_cast<size_t>(kThreads * kEvents));
  // Every handle was given out once: the last one is the count less one.
  const std::string last = std::to_string(kThreads * kEvents - 1);
  EXPECT_NE(Call("GetSecureData", last.c_str()), nullptr);
  const std::string beyond = std::to_string(kThreads * kEvents);
  EXPECT_EQ(Call("GetSecureData", beyond.c_str()), nullptr);
}

}  // namespace
}  // namespace vorneth
