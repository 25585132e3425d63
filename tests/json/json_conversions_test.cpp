// Reading outside JSON: parsing as far as the damage, and type-checked
// access that never throws.
#include "json/json_conversions.h"

#include <gtest/gtest.h>

#include <string>

#include "json/styled_writer.h"

namespace vorneth {
namespace {

std::string Nested(int depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}
std::string Compact(const Json::Value& value) {
  return StyledWriter().write(value);
}

TEST(ParseJsonUpToDamageTest, ATextNestedTooDeepKeepsWhatCameBeforeTheDamage) {
  const std::string text = R"({"a":"kept","b":[1,2],"deep":)" + Nested(5000) + R"(,"after":true})";
  Json::Value value;
  EXPECT_FALSE(ParseJsonUpToDamage(text, value));
  EXPECT_EQ(value["a"], "kept");
  EXPECT_EQ(Compact(value["b"]), "[1, 2]");
  EXPECT_TRUE(value["deep"].isArray());
  EXPECT_FALSE(value.isMember("after"));

  // What was kept is a document that reads whole again.
  Json::Value again;
  EXPECT_TRUE(ParseJsonUpToDamage(Compact(value), again));
  EXPECT_EQ(again, value);

  // Requests keep the strict reading: a too-deep text is nothing at all.
  Json::Value strict;
  EXPECT_FALSE(ParseJson(text, strict));
  EXPECT_TRUE(strict.isNull());
}

TEST(ParseJsonUpToDamageTest, OnlyBracketsOfValuesCountTowardsTheDepth) {
  Json::Value value;
  EXPECT_TRUE(ParseJsonUpToDamage(Nested(kMaxJsonDepth), value));
  EXPECT_FALSE(ParseJsonUpToDamage(Nested(kMaxJsonDepth + 1), value));

  // Brackets inside strings (escaped quotes included) and comments are text.
  const std::string brackets(3000, '[');
  const std::string text =
      "// a comment with a \" quote and " + brackets + "\n" + R"({"s":"\")" + brackets + R"(", /* ]]]" */ "t":[1]})";
  EXPECT_TRUE(ParseJsonUpToDamage(text, value)) << text.substr(0, 80);
  EXPECT_EQ(value["s"].asString(), "\"" + brackets);
  EXPECT_EQ(Compact(value["t"]), "[1]");
}

TEST(IsStringTest, OnlyAStringWithExactlyTheseBytesMatches) {
  EXPECT_TRUE(IsString(Json::Value("https://a.example"), "https://a.example"));
  EXPECT_TRUE(IsString(Json::Value(std::string("a\0b", 3)), std::string_view("a\0b", 3)));
  EXPECT_FALSE(IsString(Json::Value(std::string("a\0b", 3)), "a"));
  EXPECT_FALSE(IsString(Json::Value("A"), "a"));
  // Unlike ReadText, null and booleans are no texts here.
  EXPECT_FALSE(IsString(Json::Value(), ""));
  EXPECT_FALSE(IsString(Json::Value(true), "true"));
  EXPECT_FALSE(IsString(Json::Value(5), "5"));
  EXPECT_FALSE(IsString(Json::Value(Json::arrayValue), ""));
}

TEST(ArrayMemberTest, AnythingButAnArrayIsNull) {
  Json::Value document;
  ASSERT_TRUE(ParseJson(R"({"list":[1],"text":"x","object":{}})", document));
  EXPECT_EQ(Compact(ArrayMember(document, "list")), "[1]");
  for (const char* name : {"text", "object", "missing"}) EXPECT_TRUE(ArrayMember(document, name).isNull()) << name;
  EXPECT_TRUE(ArrayMember(Json::Value("list"), "list").isNull());
  EXPECT_FALSE(document.isMember("missing")) << "reading adds nothing";
}

}  // namespace
}  // namespace vorneth
