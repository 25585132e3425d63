// Commands handed from one producer to worker threads through a command
// cache: Put returns once a worker has taken the command.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
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

}  // namespace
}  // namespace vorneth

BENCHMARK_MAIN();
