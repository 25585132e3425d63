#include "dispatch/command_worker.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/command_cache.h"
#include "dispatch/dispatch_test_support.h"
#include "support/trace_recorder.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;

// What the work function saw, plus a gate that lets a test hold commands
// while they run. Every wait here is bounded by kDeadline.
struct Work {
  struct Call {
    void* arg;
    std::string command;
    Json::Value params;
    std::string callbackId;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Call> started;
  size_t finished = 0;
  size_t running = 0;
  size_t peakRunning = 0;
  bool gateOpen = true;

  static void Run(void* arg, std::string command, const Json::Value& params, std::string callbackId) {
    Work& work = *static_cast<Work*>(arg);
    std::unique_lock<std::mutex> lock(work.mutex);
    work.started.push_back({arg, command, params, callbackId});
    work.peakRunning = std::max(work.peakRunning, ++work.running);
    work.changed.notify_all();
    work.changed.wait_for(lock, kDeadline, [&] { return work.gateOpen; });
    --work.running;
    ++work.finished;
    work.changed.notify_all();
    if (command == "Throw") throw std::runtime_error("work failed");
  }

  void SetGate(bool open) {
    std::lock_guard<std::mutex> lock(mutex);
    gateOpen = open;
    changed.notify_all();
  }
  template <typename Predicate>
  bool WaitFor(Predicate predicate) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kDeadline, [&] { return predicate(*this); });
  }
};

bool Put(VornethCommandCache& cache, const std::string& command) {
  Json::Value params(Json::arrayValue);
  params.append(command);
  return PutWithin(cache, command, params, "cb-" + command);
}

// True once `n` calls of Get have begun: a worker that has entered Get has
// passed its loop test and will trace how that Get ended.
bool GetsEntered(size_t n) {
  size_t count = 0;
  for (const TraceRecord& r : TraceRecords()) count += r.kind == "enter" && r.scope == "VornethCommandCache::Get()";
  return count >= n;
}

bool LoopEnded() {
  return TraceHasMessage("Thread's main loop ended", "VornethCommandWorker::ThreadMainFunction");
}

class CommandWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearTraceRecords(); }
  // Declared first so it outlives every worker a test makes.
  VornethCommandCache m_cache;
  Work m_work;
};

TEST_F(CommandWorkerTest, RunsEveryCommandInOrderAndSurvivesAThrowingWorkFunction) {
  VornethCommandWorker worker(1000, &m_cache, &Work::Run, &m_work);
  for (const char* command : {"First", "Throw", "Second", "Third"}) ASSERT_TRUE(Put(m_cache, command));
  ASSERT_TRUE(m_work.WaitFor([](Work& w) { return w.finished == 4; }));

  ASSERT_EQ(m_work.started.size(), 4u);
  const std::vector<std::string> expected = {"First", "Throw", "Second", "Third"};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(m_work.started[i].arg, &m_work);
    EXPECT_EQ(m_work.started[i].command, expected[i]);
    EXPECT_EQ(m_work.started[i].params.size(), 1u);
    EXPECT_EQ(m_work.started[i].params[0].asString(), expected[i]);
    EXPECT_EQ(m_work.started[i].callbackId, "cb-" + expected[i]);
  }
  EXPECT_EQ(TraceCountMessage("New command"), 4u);

  ASSERT_TRUE(WaitUntil([] { return GetsEntered(5); }));  // waiting again
  worker.Stop();
  EXPECT_TRUE(TraceHasMessage("this->m_cache->Get() released, finishing worker"));
  EXPECT_TRUE(LoopEnded());
  EXPECT_FALSE(TraceHasMessage("Not stoped => stoping"));
}

TEST_F(CommandWorkerTest, PrepareStopLetsTheRunningCommandFinishThenEndsTheLoop) {
  VornethCommandWorker worker(3, &m_cache, &Work::Run, &m_work);
  m_work.SetGate(false);
  ASSERT_TRUE(Put(m_cache, "Slow"));
  ASSERT_TRUE(m_work.WaitFor([](Work& w) { return w.started.size() == 1; }));
  worker.PrepareStop();
  m_work.SetGate(true);
  ASSERT_TRUE(WaitUntil(LoopEnded));
  EXPECT_EQ(m_work.finished, 1u);
  EXPECT_FALSE(TraceHasMessage("this->m_cache->Get() released, finishing worker"));

  worker.Join();  // the thread has ended by itself: nothing left to stop
  worker.Stop();
  EXPECT_TRUE(TraceHasMessage("Already stopped", "VornethCommandWorker::Stop"));
}

TEST_F(CommandWorkerTest, CommandTakenAfterPrepareStopIsDropped) {
  VornethCommandWorker worker(4, &m_cache, &Work::Run, &m_work);
  ASSERT_TRUE(WaitUntil([] { return GetsEntered(1); }));
  worker.PrepareStop();
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_FALSE(LoopEnded()) << "a waiting worker must keep waiting for a command";
  ASSERT_TRUE(Put(m_cache, "Late"));  // still taken out, so Put returns
  ASSERT_TRUE(WaitUntil(LoopEnded));
  EXPECT_TRUE(m_work.started.empty());
  EXPECT_FALSE(TraceHasMessage("New command"));
}

// Put returns once its command is taken, and a command handed to a waiting
// worker is taken then, before the worker has even woken: a stop asked for
// after Put returned lets that command run.
TEST_F(CommandWorkerTest, CommandTakenBeforePrepareStopRunsEvenIfTheWorkerHadNotWokenYet) {
  for (int round = 0; round < 20; ++round) {
    ClearTraceRecords();
    VornethCommandCache cache;  // a worker's end releases its cache
    Work work;
    VornethCommandWorker worker(6, &cache, &Work::Run, &work);
    ASSERT_TRUE(WaitUntil([] { return GetsEntered(1); }));
    ASSERT_TRUE(Put(cache, "Early"));
    worker.PrepareStop();
    ASSERT_TRUE(work.WaitFor([](Work& w) { return w.finished == 1; })) << "dropped in round " << round;
  }
}

TEST_F(CommandWorkerTest, StopWakesAWaitingWorkerAndASecondStopIsANoOp) {
  VornethCommandWorker worker(5, &m_cache, &Work::Run, &m_work);
  ASSERT_TRUE(WaitUntil([] { return GetsEntered(1); }));
  worker.Stop();
  EXPECT_TRUE(LoopEnded());
  EXPECT_TRUE(TraceHasMessage("this->m_cache->Get() released, finishing worker"));
  EXPECT_FALSE(TraceHasMessage("Already stopped"));

  worker.Stop();
  EXPECT_EQ(TraceCountMessage("Already stopped"), 1u);
  worker.Join();
  EXPECT_TRUE(TraceHasMessage("Not joinable"));
}

TEST_F(CommandWorkerTest, DestroyingAnUnstoppedWorkerStopsIt) {
  {
    VornethCommandWorker worker(6, &m_cache, &Work::Run, &m_work);
    ASSERT_TRUE(WaitUntil([] { return GetsEntered(1); }));
  }
  EXPECT_TRUE(TraceHasMessage("Not stoped => stoping", "VornethCommandWorker::~VornethCommandWorker"));
  EXPECT_TRUE(TraceHasMessage("this->m_cache->Get() released, finishing worker"));
  EXPECT_TRUE(LoopEnded());
  // The stop released the cache: a later Put stores nothing and returns.
  ASSERT_TRUE(Put(m_cache, "AfterStop"));
  EXPECT_FALSE(TraceHasMessage("Command stored"));
}

// The session's shutdown sequence over its three dispatch workers.
TEST_F(CommandWorkerTest, WorkersSharingACacheRunCommandsInParallelAndStopTogether) {
  std::vector<std::unique_ptr<VornethCommandWorker>> workers;
  for (int32_t id = 0; id < 3; ++id) {
    workers.push_back(std::make_unique<VornethCommandWorker>(id, &m_cache, &Work::Run, &m_work));
  }
  m_work.SetGate(false);
  for (const char* command : {"A", "B", "C"}) ASSERT_TRUE(Put(m_cache, command));
  EXPECT_TRUE(m_work.WaitFor([](Work& w) { return w.running == 3; })) << "commands did not run in parallel";
  m_work.SetGate(true);
  ASSERT_TRUE(m_work.WaitFor([](Work& w) { return w.finished == 3; }));
  ASSERT_TRUE(WaitUntil([] { return GetsEntered(6); }));  // all three back in Get

  for (auto& worker : workers) worker->PrepareStop();
  m_cache.ReleaseGet();
  while (!workers.empty()) {
    workers.back()->Join();
    workers.pop_back();
  }
  EXPECT_EQ(TraceCountMessage("this->m_cache->Get() released, finishing worker"), 3u);
  EXPECT_EQ(TraceCountMessage("Thread's main loop ended"), 3u);
  EXPECT_FALSE(TraceHasMessage("Not stoped => stoping"));
  std::vector<std::string> ids;
  for (const TraceRecord& r : TraceRecords()) {
    if (r.scope == "VornethCommandWorker::VornethCommandWorker" && r.name == "id") ids.push_back(r.value);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"0", "1", "2"}));
}

// A released cache under a worker that was not told to stop: the worker
// keeps asking, but at the pace of Get's pause, not in a tight loop.
TEST_F(CommandWorkerTest, WorkerOverAReleasedCacheRetriesAtGetsPace) {
  VornethCommandWorker worker(7, &m_cache, &Work::Run, &m_work);
  m_cache.ReleaseGet();
  ASSERT_TRUE(WaitUntil([] { return TraceCountMessage("this->m_cache->Get() failed") >= 2; }));
  const auto start = std::chrono::steady_clock::now();
  const size_t before = TraceCountMessage("this->m_cache->Get() failed");
  std::this_thread::sleep_for(milliseconds(100));
  const size_t after = TraceCountMessage("this->m_cache->Get() failed");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Each retry sleeps at least 10 ms, so at most elapsed / 10 ms + 1 of them.
  EXPECT_LE(after - before, static_cast<size_t>(elapsed / milliseconds(10)) + 1);
  EXPECT_FALSE(LoopEnded());
  worker.Stop();
  EXPECT_TRUE(LoopEnded());
}

}  // namespace
}  // namespace vorneth::testing
