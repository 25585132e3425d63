// Reading one request body as the router does: Json::Reader and the members
// taken from its value (Straight), against the subset reader that builds
// only what the router uses (Fast). A body outside the subset (an escape)
// shows what the fast path costs when it must hand over.
#include <benchmark/benchmark.h>

#include <string>

#include "host/request.h"

namespace vorneth {
namespace {

const std::string kGetVersion =
    R"({"type":"Vorneth","command":"GetVersion","params":[],"callbackId":"7","portId":"9"})";

// A page command carrying 1 MiB of data in one string; `escape` puts one
// escape at its end, which takes the body out of the subset.
std::string LargeRequest(bool escape) {
  std::string data(size_t{1} << 20, 'x');
  if (escape) data.replace(data.size() - 2, 2, "\\n");
  return R"({"type":"Vorneth","command":"InvokeAddOnInstance","params":[1,"render",")" + data +
         R"("],"callbackId":"7","portId":"9"})";
}

void BM_Parse(benchmark::State& state, Request (*parse)(std::string_view), const std::string& body) {
  for (auto _ : state) {
    Request request = parse(body);
    benchmark::DoNotOptimize(request);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

BENCHMARK_CAPTURE(BM_Parse, GetVersionStraight, &ParseRequestStraight, kGetVersion);
BENCHMARK_CAPTURE(BM_Parse, GetVersionFast, &ParseRequest, kGetVersion);
BENCHMARK_CAPTURE(BM_Parse, OneMiBStraight, &ParseRequestStraight, LargeRequest(false));
BENCHMARK_CAPTURE(BM_Parse, OneMiBFast, &ParseRequest, LargeRequest(false));
BENCHMARK_CAPTURE(BM_Parse, OneMiBEscapedFallback, &ParseRequest, LargeRequest(true));

}  // namespace
}  // namespace vorneth

BENCHMARK_MAIN();
