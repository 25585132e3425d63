#include "host/request_router.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "host/message_output.h"
#include "host/request.h"

namespace vorneth {
namespace {

// The router without a session: nothing is answered, but every request
// passes its port identifier to the output.
class RequestRouterTest : public ::testing::Test {
 protected:
  FrameOutput m_output{[this](const char* data, size_t size) {
    m_written.append(data, size);
    return Status::Ok();
  }};
  std::string m_written;
};

TEST_F(RequestRouterTest, EveryRequestWithATextPortIdSetsIt) {
  RequestRouter router(&m_output);
  const std::pair<const char*, const char*> cases[] = {
      {R"({"type":"Vorneth","command":"GetVersion","portId":"page"})", "page"},
      {R"({"type":5,"command":"GetVersion","callbackId":"x","portId":"a"})", "a"},
      {R"({"type":"Vorneth","command":["GetVersion"],"portId":"b"})", "b"},
      {R"({"type":{"t":1},"command":{},"portId":"c"})", "c"},
      {R"({"type":"Other","command":"Create","url":"https://x.test/","portId":"d"})", "d"},
      {R"({"type":"Vorneth-I","command":"GetHostVersion","portId":"e"})", "e"},
      {R"({"type":"Vorneth-I","command":"Create","url":7,"portId":"f"})", "f"},
      {R"({"type":"Vorneth","portId":true})", "true"},
      {R"({"type":"Vorneth"})", ""},
      {"{}", ""},
      {"", ""},
  };
  for (const auto& [request, portId] : cases) {
    m_output.SetLastPortId("before");
    router.Route(request);
    EXPECT_EQ(m_output.LastPortId(), portId) << request;
    // Parsed by the caller, the same request is routed the same way.
    m_output.SetLastPortId("before");
    router.Route(ParseRequest(request));
    EXPECT_EQ(m_output.LastPortId(), portId) << request;
  }
  EXPECT_EQ(m_written, "") << "no session, so nothing is answered";
}

// A "portId" that is no text, or a body that is no object, names no port:
// such a request is ignored whole and the last identifier stays.
TEST_F(RequestRouterTest, RequestsWithoutATextPortIdKeepTheLastOne) {
  RequestRouter router(&m_output);
  for (const char* request : {R"({"type":"Vorneth","portId":7})", R"({"portId":["p"]})", R"(["portId"])", R"("p")"}) {
    m_output.SetLastPortId("before");
    router.Route(request);
    EXPECT_EQ(m_output.LastPortId(), "before") << request;
  }
}

// Bodies that the fast reader leaves to Json::Reader name the port that
// Json::Reader reads in them: escapes decoded, comments and trailing bytes
// ignored, the last repeated member counting, damage keeping what came
// before it.
TEST_F(RequestRouterTest, BodiesOutsideThePlainSubsetNameThePortJsonReaderReads) {
  RequestRouter router(&m_output);
  const std::pair<std::string, std::string> named[] = {
      {R"({"type":"Vorneth","portId":"a\"b\u0041"})", "a\"bA"},
      {R"({"portId":"p","params":[1.5]})", "p"},
      {R"({"portId":/*c*/"q"} trailing)", "q"},
      {R"({"portId":5,"portId":"r"})", "r"},
      {R"({"portId":"s","type":"Vorneth","params":[1,)", "s"},
      {R"({"portId":"t","params":)" + std::string(2000, '[') + std::string(2000, ']') + "}", ""},
      {std::string("{\"portId\":\"u\0\xff\"}", 16), std::string("u\0\xff", 3)},
  };
  for (const auto& [request, portId] : named) {
    m_output.SetLastPortId("before");
    router.Route(request);
    EXPECT_EQ(m_output.LastPortId(), portId) << request;
  }
  for (const char* request : {R"({"portId":"a","portId":[5]})", R"([{"portId":"a"}, 1.5])"}) {
    m_output.SetLastPortId("before");
    router.Route(request);
    EXPECT_EQ(m_output.LastPortId(), "before") << request;
  }
}

}  // namespace
}  // namespace vorneth
