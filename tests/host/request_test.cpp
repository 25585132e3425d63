// The fast reading of requests against the straightforward one: the same
// Request for every body, plain or not.
#include "host/request.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "json/json_subset_reader.h"
#include "json/json_text_generator.h"

namespace vorneth {
namespace {

using testing::JsonTextGenerator;
using testing::Raw;
using testing::SameValue;

// Both readings of `body`, which must agree, params offsets included.
Request ParsedBothWays(const std::string& body, const std::string& context = "") {
  const Request fast = ParseRequest(body);
  const Request straight = ParseRequestStraight(body);
  EXPECT_TRUE(fast == straight) << ::testing::PrintToString(body) << context;
  EXPECT_EQ(SameValue(fast.m_params, straight.m_params), "") << ::testing::PrintToString(body) << context;
  return fast;
}

bool InSubset(const std::string& body) {
  Json::Value ignored;
  return ReadJsonSubset(body, ignored);
}

TEST(RequestTest, TypicalRequestsTakeTheFastPath) {
  const std::string requests[] = {
      R"({"type":"Vorneth","command":"GetVersion","params":[],"callbackId":"7","portId":"9"})",
      R"({"command":"Create","portId":"p","type":"Vorneth-I","url":"https://page.test/app","version":"1.0"})",
      R"({"type":"Vorneth-I","command":"GetHostVersion","params":[],"callbackId":"8","portId":"10"})",
      R"({"type":"Vorneth-I","command":"InstallAddOns","params":[[{"name":"a","version":"1.0.2","size":123456}]],)"
      R"("callbackId":"11","portId":"p"})",
  };
  for (const std::string& body : requests) {
    EXPECT_TRUE(InSubset(body)) << body;
    ParsedBothWays(body);
  }
  const Request request = ParsedBothWays(requests[0]);
  EXPECT_TRUE(request.m_routable);
  EXPECT_EQ(request.m_type, "Vorneth");
  EXPECT_EQ(request.m_command, "GetVersion");
  EXPECT_EQ(request.m_callbackId, "7");
  EXPECT_EQ(request.m_portId, "9");
  EXPECT_EQ(request.m_url, "");
  EXPECT_TRUE(request.m_params.isArray() && request.m_params.empty());
}

TEST(RequestTest, MembersReadAsTextsOrAsUnreadable) {
  Request request = ParsedBothWays(
      R"({"type":5,"command":["GetVersion"],"portId":{"a":1},"url":true,"version":null,"callbackId":false})");
  EXPECT_EQ(request.m_type, std::nullopt);
  EXPECT_EQ(request.m_command, std::nullopt);
  EXPECT_EQ(request.m_portId, std::nullopt);
  EXPECT_EQ(request.m_url, "true");
  EXPECT_EQ(request.m_version, "");
  EXPECT_EQ(request.m_callbackId, "false");
  EXPECT_TRUE(request.m_params.isNull());
  // The last of repeated members counts, whatever the earlier ones were.
  EXPECT_EQ(ParsedBothWays(R"({"portId":5,"portId":"a"})").m_portId, "a");
  EXPECT_EQ(ParsedBothWays(R"({"portId":"a","portId":[5]})").m_portId, std::nullopt);
  EXPECT_EQ(ParsedBothWays(R"({"params":[1],"params":{"b":2}})").m_params["b"], 2);
  // Names match exactly: an embedded NUL makes another name.
  EXPECT_EQ(ParsedBothWays(Raw("{\"portId\0\":\"x\",\"type\":\"a\0b\"}")).m_portId, "");
  EXPECT_EQ(ParsedBothWays(Raw("{\"type\":\"a\0b\xff\x01\"}")).m_type, Raw("a\0b\xff\x01"));
}

TEST(RequestTest, BodiesOutsideTheSubsetReadAsJsonReaderReadsThem) {
  // Escapes, reals, comments and what follows the root value.
  EXPECT_EQ(ParsedBothWays(R"({"callbackId":"a\"b\u0041","portId":"p"})").m_callbackId, "a\"bA");
  EXPECT_TRUE(ParsedBothWays(R"({"params":[1.5,1e3,-0.0,01,12345678901234567890]})").m_params[0].isDouble());
  EXPECT_EQ(ParsedBothWays(R"({"portId":/*c*/"p"//c
})")
                .m_portId,
            "p");
  EXPECT_EQ(ParsedBothWays(R"({"portId":"p"} trailing)").m_portId, "p");
  // Damage: members read before it stay.
  const Request damaged = ParsedBothWays(R"({"portId":"p","type":"Vorneth","params":[1,)");
  EXPECT_EQ(damaged.m_portId, "p");
  EXPECT_EQ(damaged.m_type, "Vorneth");
  // Roots other than objects and null are not routed; null roots are empty
  // requests, as are texts the reader gives up on at once.
  for (const char* body : {"[1]", R"("p")", "5", "true", "[1, 1.5", "[]"}) {
    EXPECT_FALSE(ParsedBothWays(body).m_routable) << body;
  }
  const std::string deep = std::string(2000, '[') + std::string(2000, ']');
  for (const std::string& body : {std::string(""), std::string("null"), std::string("garbage"), std::string("\"abc"),
                                  R"({"portId":"p","params":)" + deep + "}"}) {
    const Request request = ParsedBothWays(body);
    EXPECT_TRUE(request.m_routable) << body;
    EXPECT_EQ(request.m_portId, "") << body;
  }
}

// Seeded requests and mutations of them: both readings agree on each.
TEST(RequestTest, GeneratedAndMutatedRequestsReadTheSameBothWays) {
  const uint32_t seed = 8122026;
  JsonTextGenerator generator(seed);
  size_t fast = 0, total = 0, plainFast = 0, plain = 0;
  for (int round = 0; round < 5000 && !::testing::Test::HasFailure(); ++round) {
    const std::string body = generator.Request();
    const std::string context = " (seed " + std::to_string(seed) + ", round " + std::to_string(round) + ")";
    ++plain;
    plainFast += InSubset(body);
    for (const std::string& variant : {body, generator.Mutate(body), generator.Mutate(body)}) {
      ++total;
      fast += InSubset(variant);
      ParsedBothWays(variant, context);
    }
  }
  std::cout << "the fast path read " << plainFast << " of " << plain << " generated requests and " << fast << " of "
            << total << " bodies, mutations included\n";
  EXPECT_GT(plainFast, plain / 3);
  EXPECT_GT(fast, total / 10);
}

}  // namespace
}  // namespace vorneth
