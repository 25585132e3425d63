// Writing one typical answer the way the host does, both ways: the message
// written with its layout, the port identifier inserted into it; and the
// text parsed and written again, as the output does for a message without a
// layout.
#include <benchmark/benchmark.h>

#include "host/message_output.h"
#include "json/message_text.h"
#include "json/styled_writer.h"

namespace vorneth {
namespace {

constexpr StyledWriter::ControlBytes kEscaped = StyledWriter::ControlBytes::kEscaped;

Json::Value TypicalResponse() {
  Json::Value response(Json::arrayValue);
  response.append("0x020F0000");
  response.append("1.4.2");
  return response;
}

MessageText DirectAnswer(const std::string& callbackId, const Json::Value& response) {
  MessageWriter writer(kEscaped);
  writer.Text("callbackId", callbackId);
  writer.Number("instanceId", 0);
  writer.Value("response", response);
  writer.Text("rtype", "Vorneth");
  return std::move(writer).Finish();
}

MessageText PlainAnswer(const std::string& callbackId, const Json::Value& response) {
  Json::Value answer;
  answer["response"] = response;
  answer["rtype"] = "Vorneth";
  answer["callbackId"] = callbackId;
  answer["instanceId"] = 0;
  return StyledWriter(kEscaped).write(answer);
}

template <MessageText (*Build)(const std::string&, const Json::Value&)>
void BM_WriteAnswer(benchmark::State& state) {
  FrameOutput output([](const char*, size_t) { return Status::Ok(); });
  output.SetLastPortId("17");
  const Json::Value response = TypicalResponse();
  std::string callbackId = "1234";
  if (state.range(0) != 0) {
    // A length that hits the padding rule once the port identifier is in.
    const size_t plain = output.add_PortId(Build(callbackId, response)).text().size();
    callbackId = std::string(266 - plain + 4, 'c');
  }
  for (auto _ : state) {
    MessageText text = add_Padding(output.add_PortId(Build(callbackId, response)));
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteAnswer<DirectAnswer>)->Arg(0)->Arg(1);
BENCHMARK(BM_WriteAnswer<PlainAnswer>)->Arg(0)->Arg(1);

}  // namespace
}  // namespace vorneth

BENCHMARK_MAIN();
