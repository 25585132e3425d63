// For every input: ParseRequest and ParseRequestStraight give the same
// Request, and the subset reader, whenever it accepts the input, gives the
// value Json::Reader gives (types and offsets included). A difference
// prints the input's reading and aborts, which libFuzzer reports as a crash
// with the input saved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/request.h"
#include "json/json_conversions.h"
#include "json/json_subset_reader.h"
#include "json/json_text_generator.h"

namespace {

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_request_parser: %s %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);

  const vorneth::Request fast = vorneth::ParseRequest(body);
  const vorneth::Request straight = vorneth::ParseRequestStraight(body);
  if (!(fast == straight)) Fail("ParseRequest and ParseRequestStraight differ", "");
  const std::string params = vorneth::testing::SameValue(fast.m_params, straight.m_params);
  if (!params.empty()) Fail("the params differ:", params);

  Json::Value subset;
  if (vorneth::ReadJsonSubset(body, subset)) {
    Json::Value reader;
    if (!vorneth::ParseJson(body, reader)) Fail("the subset reader accepted what Json::Reader refuses", "");
    const std::string difference = vorneth::testing::SameValue(subset, reader);
    if (!difference.empty()) Fail("the subset reader read another value:", difference);
  }
  return 0;
}
