// Commands handed from one producer to worker threads through a command
// cache: Put returns once a worker has taken the command.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "dispatch/command_cache.h"
#include "dispatch/command_worker.h"

namespace vorneth {
namespace {

std::atomic<int64_t> g_done{0};

void CountCommand(void* /*arg*/, std::string /*command*/, const Json::Value& /*params*/, std::string /*callbackId*/) {
  g_done.fetch_add(1, std::memory_order_relaxed);
}

void BM_CommandHandOver(benchmark::State& state) {
  VornethCommandCache cache;
  std::vector<std::unique_ptr<VornethCommandWorker>> workers;
  for (int i = 0; i < state.range(0); ++i) {
    workers.push_back(std::make_unique<VornethCommandWorker>(i, &cache, &CountCommand, nullptr));
  }
  Json::Value params(Json::arrayValue);
  params.append("AddOnInstallFinishEvent");
  for (auto _ : state) cache.Put("RegisterEvent", Json::Value(params), "42");
  state.SetItemsProcessed(state.iterations());
  for (auto& worker : workers) worker->Stop();
}
BENCHMARK(BM_CommandHandOver)->Arg(1)->Arg(3)->UseRealTime();

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A command that keeps its worker busy, without processor time, for the
// milliseconds `arg` points at.
void BusyCommand(void* arg, std::string /*command*/, const Json::Value& /*params*/, std::string /*callbackId*/) {
  std::this_thread::sleep_for(std::chrono::milliseconds(*static_cast<const int64_t*>(arg)));
}

// A producer whose command nobody can take yet: its one worker is busy with
// the command before, for state.range(0) ms. Every Put of the loop waits for
// the worker to come back, so the producer's processor time per Put is what
// such a wait costs it: the short poll for a running consumer and the
// wake-up, the same for any length of wait, as the producer sleeps.
void BM_ProducerWaitingForBusyConsumer(benchmark::State& state) {
  VornethCommandCache cache;
  int64_t busyMilliseconds = state.range(0);
  VornethCommandWorker worker(0, &cache, &BusyCommand, &busyMilliseconds);
  cache.Put("First", Json::Value(Json::arrayValue), "1");  // the worker is busy from here on
  const double cpuBefore = ThreadCpuSeconds();
  for (auto _ : state) cache.Put("Next", Json::Value(Json::arrayValue), "2");
  const double cpuUsed = ThreadCpuSeconds() - cpuBefore;
  state.counters["producer_cpu_per_wait"] = benchmark::Counter(cpuUsed, benchmark::Counter::kAvgIterations);
  worker.Stop();
}
BENCHMARK(BM_ProducerWaitingForBusyConsumer)->Arg(1)->Arg(10)->UseRealTime();

}  // namespace
}  // namespace vorneth

BENCHMARK_MAIN();
