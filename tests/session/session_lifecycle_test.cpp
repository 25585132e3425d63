// The session's dispatch workers over its life: destruction right away and
// while a command runs, retirement of a replaced session, and the page
// command table on a blocked origin. Sessions here have a refused origin, so
// they never touch the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <vector>

#include "session/session_test_support.h"
#include "session/vorneth.h"
#include "support/trace_recorder.h"
#include "support/wait_until.h"

namespace vorneth::testing {
namespace {

std::unique_ptr<Vorneth> NewSession(RecordingPage& page) {
  return std::make_unique<Vorneth>(kRefusedUrl, 0, &RecordingPage::Receive, &page, "1.0");
}

// Runs `work` on a helper thread; false when it did not return within
// kDeadline (the helper is then left to finish on its own).
template <typename Work>
bool ReturnsWithinDeadline(Work work) {
  auto done = std::async(std::launch::async, work);
  const bool returned = done.wait_for(kDeadline) == std::future_status::ready;
  if (!returned) std::thread([d = std::move(done)]() mutable { d.wait(); }).detach();
  return returned;
}

bool Entered(std::string_view scope) {
  for (const TraceRecord& r : TraceRecords()) {
    if (r.kind == "enter" && r.scope == scope) return true;
  }
  return false;
}

size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

class SessionLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearTraceRecords(); }
  RecordingPage m_page;
};

TEST_F(SessionLifecycleTest, DestroyedRightAfterCreation) {
  EXPECT_TRUE(ReturnsWithinDeadline([&] {
    for (int i = 0; i < 20; ++i) NewSession(m_page).reset();
  }));
  EXPECT_EQ(TraceCountMessage("Thread's main loop ended"), 60u);
  EXPECT_FALSE(TraceHasMessage("Not stoped => stoping")) << "the session stops its own workers";
  EXPECT_TRUE(m_page.Answers().empty());
}

TEST_F(SessionLifecycleTest, DestructionWaitsForTheRunningCommandAndItsAnswerIsWritten) {
  auto session = NewSession(m_page);
  m_page.Hold(true);
  session->VornethDispatch("GetVersion", Json::Value(Json::arrayValue), "running");
  ASSERT_TRUE(m_page.WaitArrived(1)) << "the command never reached the page";
  auto destroyed = std::async(std::launch::async, [&] { session.reset(); });
  ASSERT_TRUE(WaitUntil([] { return Entered("Vorneth::StopDispatchWorkers"); }));
  m_page.Hold(false);
  ASSERT_EQ(destroyed.wait_for(kDeadline), std::future_status::ready) << "destruction hangs";
  ASSERT_EQ(m_page.Answers().size(), 1u);
  EXPECT_NE(m_page.Answers()[0].find(R"("callbackId":"running")"), std::string::npos);
  EXPECT_EQ(m_page.Response(0), R"(["0x020F0000","1.0"])");
}

TEST_F(SessionLifecycleTest, RetireReturnsAtOnceAndTheWorkersEndOnceIdle) {
  auto session = NewSession(m_page);
  ASSERT_TRUE(session->WorkersRunning());
  m_page.Hold(true);
  session->VornethDispatch("GetVersion", Json::Value(Json::arrayValue), "last");
  ASSERT_TRUE(m_page.WaitArrived(1));
  EXPECT_TRUE(ReturnsWithinDeadline([&] { session->Retire(); })) << "Retire waited for the running command";
  EXPECT_FALSE(session->WorkersRunning());
  // The two idle workers end while the third still runs its command.
  EXPECT_TRUE(WaitUntil([] { return TraceCountMessage("Thread's main loop ended") == 2; }));
  m_page.Hold(false);
  EXPECT_TRUE(WaitUntil([] { return TraceCountMessage("Thread's main loop ended") == 3; }));
  ASSERT_TRUE(m_page.WaitAnswers(1));
  EXPECT_NE(m_page.Answers()[0].find(R"("callbackId":"last")"), std::string::npos);

  // A command for a retired session is neither queued nor does it block.
  EXPECT_TRUE(
      ReturnsWithinDeadline([&] { session->VornethDispatch("GetVersion", Json::Value(Json::arrayValue), "late"); }));
  EXPECT_TRUE(ReturnsWithinDeadline([&] { session.reset(); }));
  EXPECT_EQ(m_page.Answers().size(), 1u);
}

size_t CountEntered(std::string_view scope) {
  size_t count = 0;
  for (const TraceRecord& r : TraceRecords()) count += r.kind == "enter" && r.scope == scope ? 1 : 0;
  return count;
}

// The router joins a retired session's ended workers at every "Create", so
// that exited threads do not keep their stacks until the end.
TEST_F(SessionLifecycleTest, RetiredSessionJoinsItsEndedWorkersWithoutWaitingForARunningOne) {
  auto session = NewSession(m_page);
  EXPECT_FALSE(session->JoinEndedWorkers()) << "a session in use keeps its workers";
  m_page.Hold(true);
  session->VornethDispatch("GetVersion", Json::Value(Json::arrayValue), "held");
  ASSERT_TRUE(m_page.WaitArrived(1));
  session->Retire();
  ASSERT_TRUE(WaitUntil([] { return TraceCountMessage("Thread's main loop ended") == 2; }));

  bool allJoined = true;
  EXPECT_TRUE(ReturnsWithinDeadline([&] { allJoined = session->JoinEndedWorkers(); }))
      << "joining waited for the running command";
  EXPECT_FALSE(allJoined);
  EXPECT_EQ(CountEntered("VornethCommandWorker::Join"), 2u);

  m_page.Hold(false);
  ASSERT_TRUE(m_page.WaitAnswers(1));
  EXPECT_TRUE(WaitUntil([&] { return session->JoinEndedWorkers(); }));
  EXPECT_EQ(CountEntered("VornethCommandWorker::Join"), 3u);
  EXPECT_TRUE(ReturnsWithinDeadline([&] { session.reset(); }));
  EXPECT_EQ(CountEntered("VornethCommandWorker::Join"), 3u) << "destruction had nothing left to join";
}

// What the router does on every "Create": the replaced session is retired
// and kept. Its threads must go, not pile up.
TEST_F(SessionLifecycleTest, ReplacedSessionsDoNotKeepTheirThreads) {
  // A first session lets the runtime start whatever threads of its own it
  // starts with the first thread (the thread sanitizer has one), so that
  // only the sessions' threads are counted.
  NewSession(m_page).reset();
  const size_t before = ThreadCount();
  std::vector<std::unique_ptr<Vorneth>> replaced;
  auto current = NewSession(m_page);
  for (int i = 0; i < 200; ++i) {
    current->Retire();
    replaced.push_back(std::move(current));
    for (auto& retired : replaced) retired->JoinEndedWorkers();
    current = NewSession(m_page);
  }
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= before + 3; }))
      << ThreadCount() - before << " threads more than before";
  current->VornethDispatch("GetVersion", Json::Value(Json::arrayValue), "current");
  ASSERT_TRUE(m_page.WaitAnswers(1));
  EXPECT_TRUE(ReturnsWithinDeadline([&] {
    current.reset();
    replaced.clear();
  }));
  // A joined thread may linger in /proc for a moment.
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= before; }));
}

TEST_F(SessionLifecycleTest, BlockedOriginAnswersOnlyGetVersion) {
  auto session = NewSession(m_page);
  EXPECT_TRUE(session->blacklisted());
  const char* commands[] = {"GetVersion", "InstallAddOns", "NoSuchCommand", "getversion", "RegisterEvent"};
  for (size_t i = 0; i < std::size(commands); ++i) {
    Json::Value params(Json::arrayValue);
    params.append("AddOnInstallFinishEvent");
    session->VornethDispatch(commands[i], params, std::to_string(i));
    ASSERT_TRUE(m_page.WaitAnswers(i + 1)) << commands[i];
  }
  EXPECT_EQ(m_page.Response(0), R"(["0x020F0000","1.0"])");
  for (size_t i = 1; i < std::size(commands); ++i) EXPECT_EQ(m_page.Response(i), R"(["Error",-3])") << commands[i];
  EXPECT_EQ(TraceCountMessage("m_blacklisted is true"), 4u);
  EXPECT_FALSE(TraceHasMessage("Invalid command")) << "the gate comes before the name is looked up";
}

TEST_F(SessionLifecycleTest, HostCommandsRunWhateverTheOriginAndUnknownOnesAnswerMinusTwo) {
  auto session = NewSession(m_page);
  session->VornethDispatchInternal("GetHostVersion", Json::Value(), "a");
  session->VornethDispatchInternal("GetDomain", Json::Value(), "b");
  session->VornethDispatchInternal("GetVersion", Json::Value(), "c");
  ASSERT_EQ(m_page.Answers().size(), 3u) << "host commands answer before they return";
  EXPECT_EQ(m_page.Answers()[0], R"({"callbackId":"a","instanceId":0,"response":"2.15.0.0","rtype":"Vorneth-I"})");
  EXPECT_EQ(m_page.Answers()[1], R"({"callbackId":"b","instanceId":0,"response":"","rtype":"Vorneth-I"})");
  EXPECT_EQ(m_page.Answers()[2], R"({"callbackId":"c","instanceId":0,"response":["Error", -2],"rtype":"Vorneth-I"})");
  EXPECT_TRUE(TraceHasMessage("Invalid command", "Vorneth::VornethDispatchInternal"));
}

}  // namespace
}  // namespace vorneth::testing
