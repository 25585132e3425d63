// What happens when the system refuses a thread: the thread object and the
// worker say so, the instance table adds no slot, and a session whose
// dispatch workers could not all start answers its page commands ["Error"]
// at once instead of leaving the caller waiting on a queue nobody drains.
#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "addons/addon_table.h"
#include "dispatch/command_worker.h"
#include "dispatch/joinable_thread.h"
#include "session/refusing_thread_start.h"
#include "session/session_test_support.h"
#include "session/vorneth.h"
#include "support/trace_recorder.h"

namespace vorneth::testing {
namespace {

void NoWork(void*, std::string, const Json::Value&, std::string) {}

class WorkerStartFailureTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearTraceRecords(); }
  void TearDown() override { AllowThreads(-1); }
  RecordingPage m_page;
};

TEST_F(WorkerStartFailureTest, ThreadAndWorkerReportTheRefusal) {
  AllowThreads(0);
  bool ran = false;
  {
    JoinableThread thread([](void* arg) { *static_cast<bool*>(arg) = true; }, &ran);
    EXPECT_FALSE(thread.Started());
    EXPECT_FALSE(thread.IsJoinable());
    thread.Join();
  }
  EXPECT_FALSE(ran);
  EXPECT_TRUE(TraceHasMessage("thread not started", "JoinableThread::JoinableThread"));

  VornethCommandCache cache;
  VornethCommandWorker worker(9, &cache, &NoWork, nullptr);
  EXPECT_FALSE(worker.Started());
  worker.Stop();
  EXPECT_TRUE(TraceHasMessage("Not joinable"));

  AllowThreads(1);
  VornethCommandWorker started(10, &cache, &NoWork, nullptr);
  EXPECT_TRUE(started.Started());
}

TEST_F(WorkerStartFailureTest, InstanceTableAddsNoSlotWithoutAWorker) {
  AddOnTable table;
  const auto makeWorker = [](int32_t workerId, VornethCommandCache* cache) {
    return std::make_unique<VornethCommandWorker>(workerId, cache, &NoWork, nullptr);
  };
  AllowThreads(1);
  EXPECT_EQ(table.Reserve(makeWorker), 0);
  EXPECT_EQ(table.Reserve(makeWorker), std::nullopt);
  EXPECT_EQ(table.size(), 1);
  EXPECT_TRUE(TraceHasMessage("add-on worker not started", "AddOnTable::Reserve"));
  AllowThreads(-1);
  EXPECT_EQ(table.Reserve(makeWorker), 1) << "a refused id is not given out";
}

// No thread at all, and two of three: either way every page command is
// answered before VornethDispatch returns, and the session still serves
// host commands and is destroyed without waiting.
TEST_F(WorkerStartFailureTest, SessionWithoutItsWorkersAnswersErrorAtOnce) {
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    ClearTraceRecords();
    RecordingPage page;
    AllowThreads(threads);
    auto session = std::make_unique<Vorneth>(kRefusedUrl, 0, &RecordingPage::Receive, &page, "1.0");
    AllowThreads(-1);
    EXPECT_FALSE(session->WorkersRunning());
    EXPECT_TRUE(TraceHasMessage("dispatch workers not started: page commands are refused"));

    auto dispatched = std::async(std::launch::async, [&] {
      for (int i = 0; i < 5; ++i) session->VornethDispatch("GetVersion", Json::Value(Json::arrayValue), "v");
    });
    ASSERT_EQ(dispatched.wait_for(kDeadline), std::future_status::ready) << "the caller blocks";
    ASSERT_EQ(page.Answers().size(), 5u);
    EXPECT_EQ(page.Answers()[0], R"({"callbackId":"v","instanceId":0,"response":["Error"],"rtype":"Vorneth"})");
    EXPECT_EQ(TraceCountMessage("no dispatch worker running: command refused"), 5u);
    EXPECT_FALSE(TraceHasMessage("Command stored to cache"));

    session->VornethDispatchInternal("GetHostVersion", Json::Value(), "h");
    ASSERT_EQ(page.Answers().size(), 6u);
    EXPECT_NE(page.Answers()[5].find(R"("response":"2.15.0.0")"), std::string::npos);

    auto destroyed = std::async(std::launch::async, [&] { session.reset(); });
    ASSERT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(TraceCountMessage("Thread's main loop ended"), static_cast<size_t>(threads));
  }
}

}  // namespace
}  // namespace vorneth::testing
