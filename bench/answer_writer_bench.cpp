// Writing one typical answer the way the host does: the session serialises
// it, then the output adds the port identifier and checks the padding rule.
#include <benchmark/benchmark.h>

#include "host/message_output.h"
#include "json/styled_writer.h"

namespace vorneth {
namespace {

Json::Value TypicalAnswer() {
  Json::Value answer;
  answer["response"].append("0x020F0000");
  answer["response"].append("1.4.2");
  answer["rtype"] = "Vorneth";
  answer["callbackId"] = "1234";
  answer["instanceId"] = 0;
  return answer;
}

void BM_StyledWriter(benchmark::State& state) {
  const Json::Value answer = TypicalAnswer();
  for (auto _ : state) benchmark::DoNotOptimize(StyledWriter().write(answer));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StyledWriter);

void BM_WriteAnswer(benchmark::State& state) {
  FrameOutput output([](const char*, size_t) { return Status::Ok(); });
  output.SetLastPortId("17");
  const Json::Value answer = TypicalAnswer();
  for (auto _ : state) {
    std::string text = add_Padding(output.add_PortId(StyledWriter().write(answer)));
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteAnswer);

// An answer whose length hits the padding rule: parsed and written twice.
void BM_WritePaddedAnswer(benchmark::State& state) {
  FrameOutput output([](const char*, size_t) { return Status::Ok(); });
  output.SetLastPortId("17");
  Json::Value answer = TypicalAnswer();
  const size_t plain = output.add_PortId(StyledWriter().write(answer)).size();
  answer["callbackId"] = std::string(266 - plain + 4, 'c');
  for (auto _ : state) {
    std::string text = add_Padding(output.add_PortId(StyledWriter().write(answer)));
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WritePaddedAnswer);

}  // namespace
}  // namespace vorneth

BENCHMARK_MAIN();
