#include "host/message_output.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json_conversions.h"
#include "json/message_text.h"
#include "json/styled_writer.h"
#include "support/trace_recorder.h"

namespace vorneth {
namespace {

// An object text of exactly `length` bytes: {"a":"xxx..."}.
std::string ObjectOfLength(size_t length) {
  return "{\"a\":\"" + std::string(length - 8, 'x') + "\"}";
}

class MessageOutputTest : public ::testing::Test {
 protected:
  // Collects what the output writes, so the test reads the frames back.
  FrameOutput m_output{[this](const char* data, size_t size) {
    m_written.append(data, size);
    return Status::Ok();
  }};

  // Splits what Callback wrote into frame bodies, checking the lengths.
  std::vector<std::string> Frames() const {
    std::vector<std::string> frames;
    size_t at = 0;
    while (at + 4 <= m_written.size()) {
      const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(m_written[at + i])); };
      const uint32_t length = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
      EXPECT_LE(at + 4 + length, m_written.size());
      frames.push_back(m_written.substr(at + 4, length));
      at += 4 + length;
    }
    EXPECT_EQ(at, m_written.size());
    return frames;
  }

  std::string m_written;
};

TEST_F(MessageOutputTest, PaddingRuleAppliesWhenTheLowLengthByteIsLineFeed) {
  for (size_t length : {10u, 256u, 265u, 267u, 521u, 523u}) EXPECT_FALSE(NeedsPadding(length)) << length;
  for (size_t length : {266u, 522u, 778u, 2570u, 65546u}) EXPECT_TRUE(NeedsPadding(length)) << length;

  const std::string text = ObjectOfLength(266);
  ASSERT_EQ(text.size(), 266u);
  const std::string padded = add_Padding(text).text();
  EXPECT_EQ(padded.size(), 280u);
  EXPECT_EQ(padded, "{\"a\":\"" + std::string(258, 'x') + "\",\"padding\":\"x\"}");
  EXPECT_EQ(add_Padding(ObjectOfLength(265)).text(), ObjectOfLength(265));
  EXPECT_EQ(add_Padding(ObjectOfLength(267)).text(), ObjectOfLength(267));
  EXPECT_EQ(add_Padding(ObjectOfLength(522)).text().size(), 536u);
}

TEST_F(MessageOutputTest, PortIdIsSetToTheLastReadIdentifier) {
  EXPECT_EQ(m_output.add_PortId("").text(), "");
  m_output.SetLastPortId("9");
  EXPECT_EQ(m_output.add_PortId(R"({"rtype":"Vorneth","callbackId":"1"})").text(),
            R"({"callbackId":"1","portId":"9","rtype":"Vorneth"})");
  m_output.SetLastPortId("10");
  EXPECT_EQ(m_output.add_PortId(R"({"portId":"old","z":1})").text(), R"({"portId":"10","z":1})");
}

TEST_F(MessageOutputTest, CallbackWritesOneFramePerMessage) {
  m_output.SetLastPortId("p");
  Callback(R"({"response":["Error", -2],"rtype":"Vorneth"})", &m_output, 0);
  Callback("", &m_output, 0);
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], R"({"portId":"p","response":["Error", -2],"rtype":"Vorneth"})");
  EXPECT_EQ(frames[1], "");
  // The empty message is a bare length of zero.
  EXPECT_EQ(m_written.substr(m_written.size() - 4), std::string(4, '\0'));
}

TEST_F(MessageOutputTest, CallbackLengthBytesAreLittleEndian) {
  m_output.SetLastPortId("");
  // {"a":"x..."} of 286 bytes plus ,"portId":"" (12) gives 298... aim at 300:
  // the message grows by 12 bytes when "portId":"" is added.
  Callback(ObjectOfLength(288), &m_output, 0);
  ASSERT_EQ(m_written.size(), 4u + 300u);
  EXPECT_EQ(m_written.substr(0, 4), std::string("\x2c\x01\x00\x00", 4));
}

TEST_F(MessageOutputTest, CallbackPadsAfterAddingThePortId) {
  m_output.SetLastPortId("");
  // 254 + 12 = 266 after the port identifier is added: padded to 280.
  Callback(ObjectOfLength(254), &m_output, 0);
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), 280u);
  Json::Value message;
  ASSERT_TRUE(ParseJson(frames[0], message));
  EXPECT_EQ(message["padding"], "x");
  EXPECT_EQ(message["portId"], "");
}

TEST_F(MessageOutputTest, MessagesOverTheBrowserLimitAreReplacedByAnErrorOfTheSameKind) {
  m_output.SetLastPortId("7");
  // {"callbackId":"5","portId":"7","response":"xx...","rtype":"Vorneth"}:
  // 63 bytes around the response text once the port identifier is added.
  const auto answerOfLength = [](size_t length) {
    return R"({"callbackId":"5","response":")" + std::string(length - 63, 'x') + R"(","rtype":"Vorneth"})";
  };
  Callback(answerOfLength(kMaxBrowserMessage), &m_output, 0);
  Callback(answerOfLength(kMaxBrowserMessage + 1), &m_output, 0);
  // An event keeps its name; members too long to be worth keeping go.
  Callback(R"({"event":"big","instanceId":0,"response":")" + std::string(kMaxBrowserMessage, 'e') +
               R"(","rtype":"Vorneth-E"})",
           &m_output, 0);
  Callback(R"({"event":")" + std::string(kMaxBrowserMessage, 'n') + R"(","rtype":"Vorneth-E"})", &m_output, 0);
  // The port identifier is the last one read, as in every message, also
  // over a message's own; one too long to keep goes too.
  const std::string ownPortId = R"({"portId":"old","response":")" + std::string(kMaxBrowserMessage, 'p') + R"("})";
  Callback(ownPortId, &m_output, 0);
  m_output.SetLastPortId(std::string(2000, 'q'));
  Callback(ownPortId, &m_output, 0);

  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[0].size(), kMaxBrowserMessage);
  EXPECT_EQ(frames[0], answerOfLength(kMaxBrowserMessage).insert(17, R"(,"portId":"7")"));
  EXPECT_EQ(frames[1], R"({"callbackId":"5","portId":"7","response":["Error", -9],"rtype":"Vorneth"})");
  EXPECT_EQ(frames[2], R"({"event":"big","instanceId":0,"portId":"7","response":["Error", -9],"rtype":"Vorneth-E"})");
  EXPECT_EQ(frames[3], R"({"portId":"7","response":["Error", -9],"rtype":"Vorneth-E"})");
  EXPECT_EQ(frames[4], R"({"portId":"7","response":["Error", -9]})");
  EXPECT_EQ(frames[5], R"({"response":["Error", -9]})");
}

TEST_F(MessageOutputTest, AFailedWriteIsTracedWithItsReasonAndTheNextFrameStillGoes) {
  int calls = 0;
  FrameOutput output([&](const char* data, size_t size) {
    if (++calls == 1) return Status::Failed("pipe closed");
    m_written.append(data, size);
    return Status::Ok();
  });
  testing::ClearTraceRecords();
  Callback(R"({"a":1})", &output, 0);
  EXPECT_TRUE(testing::TraceHasMessage("response could not be written", "Callback"));
  EXPECT_FALSE(testing::TraceHasMessage("response outputted from native"));
  bool reasonTraced = false;
  for (const auto& record : testing::TraceRecords())
    reasonTraced |= record.name == "why" && record.value == "pipe closed";
  EXPECT_TRUE(reasonTraced);

  Callback(R"({"a":2})", &output, 0);
  EXPECT_TRUE(testing::TraceHasMessage("response outputted from native", "Callback"));
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0], R"({"a":2,"portId":""})");
}

TEST_F(MessageOutputTest, EachOutputKeepsItsOwnPortIdentifier) {
  FrameOutput other([](const char*, size_t) { return Status::Ok(); });
  m_output.SetLastPortId("mine");
  other.SetLastPortId("theirs");
  Callback(R"({"a":1})", &m_output, 0);
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0], R"({"a":1,"portId":"mine"})");
  // A message without an output goes nowhere and is traced.
  testing::ClearTraceRecords();
  Callback(R"({"a":1})", nullptr, 0);
  EXPECT_TRUE(testing::TraceHasMessage("no output for the response, dropped", "Callback"));
  EXPECT_EQ(Frames().size(), 1u);
}

// The messages sessions send, and some no session sends, each through both
// ways of adding the output's members: inserted by the layout the writer
// recorded, and by parsing the text again. Both must give, byte for byte,
// what parsing, setting the member and writing again gives.
class MessagePathsTest : public MessageOutputTest {
 protected:
  static constexpr StyledWriter::ControlBytes kEscaped = StyledWriter::ControlBytes::kEscaped;

  static std::string WithMember(const std::string& text, const char* name, const std::string& value) {
    Json::Value message;
    ParseJson(text, message);
    message[name] = value;
    return StyledWriter(kEscaped).write(message);
  }
  // The reference: every step parses and writes again.
  static std::string Expected(const Json::Value& message, const std::string& portId) {
    std::string text = WithMember(StyledWriter(kEscaped).write(message), "portId", portId);
    return NeedsPadding(text.size()) ? WithMember(text, "padding", "x") : text;
  }

  // Writes `message` both ways and checks both frames against the reference.
  void Check(const Json::Value& message, const std::string& portId) {
    m_output.SetLastPortId(portId);
    m_written.clear();
    Callback(MessageWriter::Write(message, kEscaped), &m_output, 0);
    Callback(StyledWriter(kEscaped).write(message), &m_output, 0);
    const std::vector<std::string> frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const std::string expected = Expected(message, portId);
    EXPECT_EQ(frames[0], expected) << "with the layout";
    EXPECT_EQ(frames[1], expected) << "parsed again";
    for (char c : frames[0]) {
      ASSERT_GE(static_cast<unsigned char>(c), 0x20) << "a raw control byte in " << frames[0];
    }
  }
};

Json::Value PageAnswer(const std::string& callbackId, const Json::Value& response) {
  Json::Value answer;
  answer["callbackId"] = callbackId;
  answer["instanceId"] = 0;
  answer["response"] = response;
  answer["rtype"] = "Vorneth";
  return answer;
}

TEST_F(MessagePathsTest, EveryLengthAroundThePaddingRule) {
  Json::Value version(Json::arrayValue);
  version.append("0x020F0000");
  version.append("1.0");
  for (size_t length = 0; length < 800; ++length) {
    Check(PageAnswer(std::string(length, 'c'), version), "p");
    if (HasFatalFailure()) return;
  }
}

TEST_F(MessagePathsTest, PortIdentifiersThatNeedEscapes) {
  Json::Value error(Json::arrayValue);
  error.append("Error");
  error.append(-3);
  for (const std::string& portId : {std::string(), std::string("a\"b\\c/d"), std::string("\x01\x1f\b\f\n\r\t", 7),
                                    std::string("nul\0byte", 8), std::string("\xc3\xa9\xff"), std::string(300, 'p')}) {
    Check(PageAnswer("7", error), portId);
    Check(PageAnswer(std::string("cb\x01\x7f", 4), error), portId);
  }
}

TEST_F(MessagePathsTest, ResponsesOfEveryShape) {
  Json::Value longArray(Json::arrayValue);
  for (int i = 0; i < 30; ++i) longArray.append(i);
  Json::Value nested(Json::arrayValue);
  nested.append(longArray);
  nested.append(Json::Value(Json::objectValue));
  Json::Value object;
  object["z\x01"] = "tab\there";
  object["a"] = Json::Value(Json::arrayValue);
  object["portId"] = "inner ids stay";
  Json::Value reals(Json::arrayValue);
  for (double real : {0.1, -0.0, 1e300, 2.5e-308, 0.30000000000000004, 123456789.123456789}) reals.append(real);
  for (const Json::Value& response : {longArray, nested, object, reals, Json::Value(), Json::Value(-0.0),
                                      Json::Value("text"), Json::Value(true), Json::Value(Json::UInt64(1) << 63)}) {
    Check(PageAnswer("7", response), "p");
  }
}

TEST_F(MessagePathsTest, TopLevelNamesAroundTheAddedMembers) {
  for (const char* name : {"", "a", "pad", "padding", "paddinf", "paddingz", "po", "portIc", "portId", "portId0", "q",
                           "zz", "q\"", "\x01", "\xff"}) {
    Json::Value message;
    message[name] = "v";
    Check(message, "p");
    message["response"] = std::string(240, 'r');  // padded once the port identifier is in
    Check(message, "p");
  }
  Check(Json::Value(Json::objectValue), "p");
  Check(Json::Value(Json::objectValue), std::string(253, 'p'));  // {"portId":"p..."} is 266 bytes
  Json::Value many;
  for (char name = 'a'; name <= 'm'; ++name) many[std::string(1, name)] = name;
  Check(many, "p");
}

}  // namespace
}  // namespace vorneth
