// Requests too large for the host's memory bounds, sent to the built host
// over its pipes: a frame longer than the longest body kept is drained, a
// body whose parsed form would be too large is ignored, and in both cases
// the request after it is answered. Long texts and long lists within the
// bound are answered in full.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame_codec.h"
#include "frame/frame_reader.h"
#include "host/request_router.h"
#include "host_process.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kAnswer{60000};
constexpr milliseconds kSilence{500};

class RequestSizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_host.Start()) << m_host.error();
    ASSERT_TRUE(m_host.Send(Create("https://page.test/", "1.0", "p")));
  }

  static std::string Version(const std::string& callbackId) {
    return R"({"callbackId":")" + callbackId +
           R"(","instanceId":0,"portId":"p","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})";
  }

  HostProcess m_host;
};

TEST_F(RequestSizeTest, AFrameLongerThanTheLimitIsDrainedAndTheNextRequestAnswered) {
  // The body is a page command that would be answered if it were read,
  // whose one string fills it up to the limit + 1.
  const std::string start = R"({"type":"Vorneth","command":"GetVersion","callbackId":"long","portId":"p","params":[")";
  const std::string end = R"("]})";
  const size_t length = FrameReader::kMaxBody + 1;
  ASSERT_TRUE(m_host.SendRaw(EncodeFrameLength(static_cast<uint32_t>(length)) + start));
  const std::string filler(size_t{1} << 20, 'x');
  for (size_t sent = start.size(); sent < length - end.size();) {
    const size_t piece = std::min(filler.size(), length - end.size() - sent);
    ASSERT_TRUE(m_host.SendRaw(std::string_view(filler).substr(0, piece))) << m_host.error();
    sent += piece;
  }
  ASSERT_TRUE(m_host.SendRaw(end));
  ASSERT_TRUE(m_host.Send(PageCommand("GetVersion", "[]", "next", "p")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer).value_or("no answer"), Version("next"));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence)) << "the long request is never answered";
}

TEST_F(RequestSizeTest, ABodyTooCostlyToParseIsIgnoredAndTheNextRequestAnswered) {
  // A megabyte of [0,0,...]: half a million values, each far larger than
  // its two bytes once parsed. The answer would name "many".
  std::string zeros = "[0";
  while (zeros.size() < (size_t{1} << 20)) zeros += ",0";
  zeros += "]";
  const std::string request = PageCommand("GetVersion", zeros, "many", "p");
  ASSERT_FALSE(ParsedFormFits(request));
  ASSERT_TRUE(m_host.Send(request));
  ASSERT_TRUE(m_host.Send(PageCommand("GetVersion", "[]", "next", "p")));
  EXPECT_EQ(m_host.ReadFrame(kAnswer).value_or("no answer"), Version("next"));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence)) << "the costly request is never answered";
}

TEST_F(RequestSizeTest, LongTextsAndListsAPageSendsWithinTheBoundAreAnswered) {
  // Eight megabytes of text, escapes included, and a thousand packages'
  // worth of small objects: within the bound, answered.
  std::string text(size_t{8} << 20, 'y');
  text.replace(100, 12, R"(\"\\\u00e9\n)");
  const std::string longText = PageCommand("GetVersion", "[\"" + text + "\"]", "text", "p");
  std::string packages = "[\"file:///nowhere/\",[";
  for (int i = 0; i < 1000; ++i) {
    packages += std::string(i > 0 ? "," : "") + R"({"packageURL":"p)" + std::to_string(i) +
                R"(.pkg","packageUUID":"{u)" + std::to_string(i) + R"(}","packageVersion":"1.0"})";
  }
  packages += "]]";
  const std::string list = PageCommand("GetVersion", packages, "list", "p");
  for (const std::string* request : {&longText, &list}) {
    EXPECT_TRUE(ParsedFormFits(*request));
    ASSERT_TRUE(m_host.Send(*request));
  }
  // Two dispatch workers answer them, in either order.
  std::vector<std::string> answers = m_host.ReadFrames(2, kAnswer);
  std::sort(answers.begin(), answers.end());
  EXPECT_EQ(answers, (std::vector<std::string>{Version("list"), Version("text")}));
}

}  // namespace
}  // namespace vorneth::testing
