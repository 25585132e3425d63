// The example add-on's JSON reader and writer, on the texts a page may send:
// the host's test build runs it (tests/e2e/CMakeLists.txt); an author who
// changes json_fields.cpp can run it the same way.
#include "json_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace example {
namespace {

TEST(ExampleJsonFieldsTest, ReadsOnlyMembersOfTheOutermostObject) {
  const std::string params = R"( { "x" : {"a": 9, "b": [1, {"a": 8}]}, "s": "\"a\": 7", "a" : -0.5e1 ,"b":1} )";
  EXPECT_EQ(ReadNumber(params, "a"), -5.0);
  EXPECT_EQ(ReadNumber(params, "b"), 1.0);
  EXPECT_EQ(ReadString(params, "s"), "\"a\": 7");
  EXPECT_EQ(ReadNumber(params, "x"), std::nullopt) << "an object is no number";
  EXPECT_EQ(ReadNumber(params, "s"), std::nullopt) << "a string is no number";
  EXPECT_EQ(ReadString(params, "a"), std::nullopt) << "a number is no string";
  EXPECT_EQ(ReadNumber(params, "missing"), std::nullopt);
  EXPECT_EQ(ReadNumber(R"({"a": 1, "a": 2})", "a"), 1.0) << "the first of two";
}

TEST(ExampleJsonFieldsTest, RefusesBrokenOrCutOffText) {
  for (const char* broken : {"", "   ", "[1]", R"("a")", "{", R"({"a")", R"({"a":})", R"({"a": 1)", R"({"a": 1,})",
                             R"({"a": 1} x)", R"({"a": 1 "b": 2})", R"({a: 1})", R"({"a": [1, 2})", R"({"a": 1e999})",
                             R"({"a": nan})", R"({"a": 0x10})", R"({"a": "1"})"}) {
    EXPECT_EQ(ReadNumber(broken, "a"), std::nullopt) << broken;
  }
  for (const char* broken :
       {R"({"t": "\u12"})", R"({"t": "\ud800"})", R"({"t": "\udc00"})", R"({"t": "\udc00\ud800"})",
        R"({"t": "\ud800\u0041"})", R"({"t": "\q"})", "{\"t\": \"raw\nline\"}", R"({"t": "open})"}) {
    EXPECT_EQ(ReadString(broken, "t"), std::nullopt) << broken;
  }
}

TEST(ExampleJsonFieldsTest, DecodesEscapesToUtf8) {
  EXPECT_EQ(ReadString(R"({"t": "q\"b\\s\/n\nt\tr\rb\bf\f"})", "t"), "q\"b\\s/n\nt\tr\rb\bf\f");
  EXPECT_EQ(ReadString(R"({"t": "\u0041\u00e9\u20ac\ud83d\ude00"})", "t"), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(ReadString(R"({"t": "\u0000x"})", "t"), std::string("\0x", 2));
  EXPECT_EQ(ReadString("{\"t\": \"h\xC3\xA9\"}", "t"), "h\xC3\xA9") << "UTF-8 passes through";
}

TEST(ExampleJsonFieldsTest, WritesTextsAndNumbersThatReadBack) {
  static constexpr char kRaw[] = "q\"b\\ \x01\x1F\n h\xC3\xA9 \0";
  const std::string text(kRaw, sizeof kRaw - 1);
  std::string object = R"({"t":)";
  AppendString(object, text);
  object += "}";
  EXPECT_EQ(object, std::string(R"({"t":"q\"b\\ \u0001\u001f\u000a h)") + "\xC3\xA9" + R"( \u0000"})");
  EXPECT_EQ(ReadString(object, "t"), text);

  for (const double value : {0.0, 3.0, -1.5, 0.1 + 0.2, 1e300, -2.5e-300}) {
    EXPECT_EQ(ReadNumber(R"({"n":)" + NumberText(value) + "}", "n"), value) << NumberText(value);
  }
  EXPECT_EQ(NumberText(3), "3");
}

}  // namespace
}  // namespace example
