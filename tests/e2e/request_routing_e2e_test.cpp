// Requests that the host's fast reader leaves to Json::Reader, sent to the
// built host over its pipes: each is routed and answered by what
// Json::Reader reads in it, escapes decoded, reals, comments and trailing
// bytes accepted, the last of repeated members counting.
#include <gtest/gtest.h>

#include <string>

#include "host_process.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kAnswer{10000};
constexpr milliseconds kSilence{300};

class RequestRoutingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_host.Start()) << m_host.error(); }

  std::string Ask(const std::string& request) {
    EXPECT_TRUE(m_host.Send(request));
    return m_host.ReadFrame(kAnswer).value_or("no answer");
  }

  HostProcess m_host;
};

TEST_F(RequestRoutingTest, EscapesRealsCommentsAndRepeatsAreAnsweredByTheirDecodedMembers) {
  // The session's version comes through an escape.
  ASSERT_TRUE(m_host.Send(R"({"type":"Vorneth-I","command":"Create","url":"https:\/\/page.test\/app",)"
                          R"("version":"2.\u0030","portId":"p"})"));
  EXPECT_EQ(Ask(R"({"type":"Vorneth","command":"GetVersion","params":[],"callbackId":"a\"b","portId":"9"})"),
            R"({"callbackId":"a\"b","instanceId":0,"portId":"9","response":["0x020F0000", "2.0"],"rtype":"Vorneth"})");
  EXPECT_EQ(Ask(R"({"type":"Vorneth-I","command":"GetHostVersion","params":[1.5, 1e3],"callbackId":"c","portId":"q"})"),
            R"({"callbackId":"c","instanceId":0,"portId":"q","response":"2.15.0.0","rtype":"Vorneth-I"})");
  EXPECT_EQ(Ask(R"({"type":/*page*/"Vorneth","command":"GetVersion","callbackId":"d","portId":"r"} trailing)"),
            R"({"callbackId":"d","instanceId":0,"portId":"r","response":["0x020F0000", "2.0"],"rtype":"Vorneth"})");
  EXPECT_EQ(Ask(R"({"type":"Other","type":"Vorneth","command":"GetVersion","callbackId":5,"callbackId":"e"})"),
            R"({"callbackId":"e","instanceId":0,"portId":"","response":["0x020F0000", "2.0"],"rtype":"Vorneth"})");
  // The last of repeated members counts the other way round too.
  ASSERT_TRUE(m_host.Send(R"({"type":"Vorneth","command":"GetVersion","callbackId":"f","callbackId":[1]})"));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
}

}  // namespace
}  // namespace vorneth::testing
