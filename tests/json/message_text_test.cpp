#include "json/message_text.h"

#include <gtest/gtest.h>

#include <string>

#include "json/styled_writer.h"

namespace vorneth {
namespace {

constexpr StyledWriter::ControlBytes kEscaped = StyledWriter::ControlBytes::kEscaped;

TEST(MessageTextTest, ControlBytesAreEscapedOnlyWhereAsked) {
  const Json::Value text(std::string("a\x01\x1f\x7f\b\f\n\r\t\"\\/\xc3\xa9", 14));
  EXPECT_EQ(StyledWriter().write(text), "\"a\x01\x1f\x7f\\b\\f\\n\\r\\t\\\"\\\\/\xc3\xa9\"");
  EXPECT_EQ(StyledWriter(kEscaped).write(text), "\"a\\u0001\\u001f\x7f\\b\\f\\n\\r\\t\\\"\\\\/\xc3\xa9\"");
  EXPECT_EQ(StyledWriter(kEscaped).write(Json::Value(std::string("\0", 1))), "\"\\u0000\"");
}

TEST(MessageTextTest, WrittenMemberByMemberAsTheWriterWritesTheObject) {
  Json::Value message;
  message["rtype"] = "Vorneth";
  message["response"].append("Error");
  message["response"].append(-2);
  message["instanceId"] = 0;
  message["callbackId"] = "7";
  const MessageText written = MessageWriter::Write(message, kEscaped);
  EXPECT_EQ(written.text(), StyledWriter(kEscaped).write(message));
  EXPECT_TRUE(written.HasLayout());
  EXPECT_TRUE(written.HasMember("response"));
  EXPECT_FALSE(written.HasMember("respons"));

  MessageWriter direct(kEscaped);
  direct.Text("callbackId", "7");
  direct.Number("instanceId", 0);
  direct.Value("response", message["response"]);
  direct.Text("rtype", "Vorneth");
  EXPECT_EQ(std::move(direct).Finish().text(), written.text());
}

TEST(MessageTextTest, MembersGoInAtTheirPlaceInNameOrder) {
  MessageText empty = MessageWriter::Write(Json::Value(Json::objectValue), kEscaped);
  ASSERT_TRUE(empty.InsertMember("m", "1"));
  ASSERT_TRUE(empty.InsertMember("z", "2"));
  ASSERT_TRUE(empty.InsertMember("a", "3"));
  ASSERT_TRUE(empty.InsertMember("n", "[]"));
  EXPECT_EQ(empty.text(), R"({"a":3,"m":1,"n":[],"z":2})");
  EXPECT_FALSE(empty.InsertMember("m", "4")) << "a member that exists is not added twice";
  EXPECT_FALSE(empty.InsertMember("q\"", "4")) << "a name that needs an escape";
  EXPECT_EQ(empty.text(), R"({"a":3,"m":1,"n":[],"z":2})");
}

TEST(MessageTextTest, MemberTextsAreFoundByTheLayout) {
  Json::Value object;
  object["callbackId"] = "c,\"}";
  object["response"][0] = "Error";
  object["response"][1] = -9;
  object["rtype"] = "Vorneth";
  MessageText message = MessageWriter::Write(object, kEscaped);
  ASSERT_TRUE(message.InsertMember("portId", R"("p")"));
  EXPECT_EQ(message.MemberText("callbackId"), R"("c,\"}")");
  EXPECT_EQ(message.MemberText("portId"), R"("p")");
  EXPECT_EQ(message.MemberText("response"), R"(["Error", -9])");
  EXPECT_EQ(message.MemberText("rtype"), R"("Vorneth")") << "the last member, before the brace";
  EXPECT_EQ(message.MemberText("event"), "");
  EXPECT_EQ(MessageText(R"({"rtype":"Vorneth"})").MemberText("rtype"), "") << "a text without a layout";
}

TEST(MessageTextTest, NoLayoutWhereInsertingCouldDifferFromWritingAgain) {
  Json::Value real;
  real["response"] = 0.1;
  EXPECT_FALSE(MessageWriter::Write(real, kEscaped).HasLayout());
  Json::Value nestedReal;
  nestedReal["response"]["deep"].append(-0.0);
  EXPECT_FALSE(MessageWriter::Write(nestedReal, kEscaped).HasLayout());
  Json::Value escapedName;
  escapedName["a\nb"] = 1;
  EXPECT_FALSE(MessageWriter::Write(escapedName, kEscaped).HasLayout());
  Json::Value many;
  for (char name = 'a'; name < 'a' + static_cast<char>(MessageText::kMaxMembers) + 1; ++name) {
    many[std::string(1, name)] = 1;
  }
  EXPECT_FALSE(MessageWriter::Write(many, kEscaped).HasLayout());
  EXPECT_EQ(MessageWriter::Write(many, kEscaped).text(), StyledWriter(kEscaped).write(many));
  EXPECT_FALSE(MessageWriter::Write(Json::Value("text"), kEscaped).HasLayout());

  MessageWriter outOfOrder(kEscaped);
  outOfOrder.Text("b", "1");
  outOfOrder.Text("a", "2");
  MessageText text = std::move(outOfOrder).Finish();
  EXPECT_EQ(text.text(), R"({"b":"1","a":"2"})");
  EXPECT_FALSE(text.HasLayout());
  EXPECT_FALSE(text.InsertMember("c", "3"));
  EXPECT_FALSE(MessageText("{}").InsertMember("c", "3")) << "a plain text has no layout";
}

// Arrays of scalars across the whole array rule: element counts up to past
// 25, texts whose total length crosses the right margin, texts holding
// commas and bytes that need escapes.
TEST(MessageTextTest, ArraysWrittenElementByElementMatchTheWriter) {
  for (size_t count = 0; count <= 27; ++count) {
    for (size_t length = 0; length <= 40; length += 3) {
      ArrayWriter direct(kEscaped);
      Json::Value array(Json::arrayValue);
      for (size_t i = 0; i < count; ++i) {
        switch (i % 4) {
          case 0: {
            const std::string text = std::string(length, 'x') + ",\x01" + std::string(1, static_cast<char>(i));
            direct.Text(text);
            array.append(text);
            break;
          }
          case 1:
            direct.Number(-static_cast<int64_t>(length) * 1000);
            array.append(-static_cast<Json::Int64>(length) * 1000);
            break;
          case 2:
            direct.Bool(length % 2 == 0);
            array.append(length % 2 == 0);
            break;
          default:
            direct.Text("");
            array.append("");
        }
      }
      ASSERT_EQ(direct.size(), count);
      ASSERT_EQ(std::move(direct).Finish(), StyledWriter(kEscaped).write(array)) << count << " elements, " << length;
    }
  }
}

}  // namespace
}  // namespace vorneth
