#include "json/styled_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "json/json_conversions.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

using testing::ScratchDir;

std::string Write(const Json::Value& value) {
  return StyledWriter().write(value);
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(ParseJson(text, value)) << text;
  return value;
}

TEST(StyledWriterTest, Scalars) {
  EXPECT_EQ(Write(Json::Value()), "null");
  EXPECT_EQ(Write(true), "true");
  EXPECT_EQ(Write(false), "false");
  EXPECT_EQ(Write(0), "0");
  EXPECT_EQ(Write(-3), "-3");
  EXPECT_EQ(Write(Json::Value(std::numeric_limits<Json::Int64>::min())), "-9223372036854775808");
  EXPECT_EQ(Write(Json::Value(std::numeric_limits<Json::UInt64>::max())), "18446744073709551615");
  EXPECT_EQ(Write(Json::Value(4294967295u)), "4294967295");
}

TEST(StyledWriterTest, RealsArePrintedWithSixteenSignificantDigits) {
  EXPECT_EQ(Write(1.5), "1.5");
  EXPECT_EQ(Write(1.0), "1");
  EXPECT_EQ(Write(-0.25), "-0.25");
  EXPECT_EQ(Write(0.1), "0.1");
  EXPECT_EQ(Write(1e20), "1e+20");
  EXPECT_EQ(Write(1e-5), "1e-05");
  EXPECT_EQ(Write(123456789012345678.0), "1.234567890123457e+17");
  EXPECT_EQ(Write(3.141592653589793), "3.141592653589793");
  EXPECT_EQ(Write(1e15), "1000000000000000");
  EXPECT_EQ(Write(1e16), "1e+16");
}

// Runs `command` to its end with `environment` changed as ChildProcess
// describes; its standard output, or nullopt when it could not be started,
// did not end within a generous bound or ended with a status other than 0.
std::optional<std::string> RunToEnd(std::vector<std::string> command,
                                    std::vector<std::pair<std::string, std::optional<std::string>>> environment) {
  ChildProcess child;
  if (!child.Start({std::move(command), std::move(environment), {}})) return std::nullopt;
  child.CloseInput();
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    const ReadStatus status = child.Read(out, std::chrono::milliseconds(200));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  if (child.Wait(std::chrono::seconds(10)) != 0) return std::nullopt;
  return out;
}

// A locale with a decimal comma, compiled from the system's locale sources
// into a scratch folder, which only the probe's environment (LOCPATH) names:
// the probe prints what printf makes of 2.5 there and what the writer does.
TEST(StyledWriterTest, RealsIgnoreTheProcessLocale) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  if (!RunToEnd({"localedef", "-i", "de_DE", "-f", "UTF-8", scratch / "de_DE.UTF-8"}, {})) {
    GTEST_SKIP() << "no locale with a decimal comma can be made here";
  }
  const std::optional<std::string> printed =
      RunToEnd({LOCALE_PROBE_PATH, "de_DE.UTF-8"}, {{"LOCPATH", scratch.path()}});
  ASSERT_TRUE(printed.has_value()) << "the probe could not set the compiled locale";
  ASSERT_EQ(printed->substr(0, 4), "2,5\n") << "the locale did not take effect";
  EXPECT_EQ(printed->substr(4), "2.5\n");
}

TEST(StyledWriterTest, StringsEscapeOnlyTheListedBytes) {
  EXPECT_EQ(Write("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(Write("\b\f\n\r\t"), R"("\b\f\n\r\t")");
  EXPECT_EQ(Write("a/b"), R"("a/b")");
  // Other control bytes, DEL and bytes of 0x80 and above are written raw.
  EXPECT_EQ(Write("\x01\x1f\x7f"), "\"\x01\x1f\x7f\"");
  EXPECT_EQ(Write("gr\xc3\xbc\xc3\x9f \xff"), "\"gr\xc3\xbc\xc3\x9f \xff\"");
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(Write(Json::Value(withNul)), std::string("\"a\0b\"", 5));
  EXPECT_EQ(Write(""), "\"\"");
}

TEST(StyledWriterTest, ObjectMembersComeInByteOrderWhateverTheInsertionOrder) {
  Json::Value message;
  message["rtype"] = "Vorneth";
  message["response"] = Json::Value(Json::arrayValue);
  message["response"].append("0x020F0000");
  message["response"].append("1.0");
  message["instanceId"] = 0;
  message["callbackId"] = "7";
  message["portId"] = "9";
  EXPECT_EQ(Write(message),
            R"({"callbackId":"7","instanceId":0,"portId":"9","response":["0x020F0000", "1.0"],"rtype":"Vorneth"})");

  Json::Value keys;
  keys["b"] = 1;
  keys["\xc3\xa9"] = 2;  // bytes above 0x7F sort after ASCII
  keys["B"] = 3;
  keys["_"] = 4;
  keys["a"] = 5;
  keys[""] = 6;
  EXPECT_EQ(Write(keys), "{\"\":6,\"B\":3,\"_\":4,\"a\":5,\"b\":1,\"\xc3\xa9\":2}");
  EXPECT_EQ(Write(Json::Value(Json::objectValue)), "{}");
  EXPECT_EQ(Write(Parse(R"({"a\"b":{"y":1,"x":[]}})")), R"({"a\"b":{"x":[],"y":1}})");
}

TEST(StyledWriterTest, ShortArraysOfScalarsUseCommaBlank) {
  EXPECT_EQ(Write(Parse(R"(["Error", -3])")), R"(["Error", -3])");
  EXPECT_EQ(Write(Parse("[true]")), "[true]");
  EXPECT_EQ(Write(Json::Value(Json::arrayValue)), "[]");
  // Empty containers do not force the long form.
  EXPECT_EQ(Write(Parse("[[], {}, 1]")), "[[], {}, 1]");
}

TEST(StyledWriterTest, ArraysHoldingNonEmptyContainersUseTheLongForm) {
  EXPECT_EQ(Write(Parse(R"([{"a":1},{"b":2}])")), R"([{"a":1},{"b":2}])");
  EXPECT_EQ(Write(Parse(R"([["a", "b"], 1])")), R"([["a", "b"],1])");
  EXPECT_EQ(Write(Parse(R"([1, {"a":[1, 2]}])")), R"([1,{"a":[1, 2]}])");
}

TEST(StyledWriterTest, ArraysReachingTheRightMarginUseTheLongForm) {
  // 23 one-digit elements: 2 + 2 * 23 + 23 = 71, short.
  Json::Value array(Json::arrayValue);
  for (int i = 0; i < 23; ++i) array.append(i % 10);
  EXPECT_NE(Write(array).find(", "), std::string::npos);
  // 24 one-digit elements: 2 + 48 + 24 = 74 reaches the margin.
  array.append(1);
  EXPECT_EQ(Write(array).find(", "), std::string::npos);
  EXPECT_EQ(Write(array).find(" "), std::string::npos);

  // Two strings of 31 and 32 letters: texts 33 + 34, 2 + 4 + 67 = 73, short.
  Json::Value pair(Json::arrayValue);
  pair.append(std::string(31, 'x'));
  pair.append(std::string(32, 'y'));
  EXPECT_EQ(Write(pair), "[\"" + std::string(31, 'x') + "\", \"" + std::string(32, 'y') + "\"]");
  // One more letter reaches 74.
  pair[0] = std::string(32, 'x');
  EXPECT_EQ(Write(pair), "[\"" + std::string(32, 'x') + "\",\"" + std::string(32, 'y') + "\"]");
  // Escapes count with their written length: 16 line feeds are 32 bytes of
  // text, so 2 + 4 + 34 + 34 = 74 reaches the margin.
  pair[0] = std::string(16, '\n');
  EXPECT_EQ(Write(pair).find("\", \""), std::string::npos);
  pair[0] = std::string(15, '\n');
  EXPECT_NE(Write(pair).find("\", \""), std::string::npos);
}

TEST(StyledWriterTest, TwentyFiveEmptyArraysUseTheLongForm) {
  Json::Value array(Json::arrayValue);
  std::string expected = "[";
  for (int i = 0; i < 25; ++i) {
    array.append(Json::Value(Json::arrayValue));
    expected += i == 0 ? "[]" : ",[]";
  }
  EXPECT_EQ(Write(array), expected + "]");
}

TEST(StyledWriterTest, CommentsInParsedTextAreDropped) {
  const Json::Value value = Parse("{ /* c */ \"a\" : 1 // line\n, \"b\": [1, /* x */ 2] }");
  EXPECT_EQ(Write(value), R"({"a":1,"b":[1, 2]})");
}

TEST(StyledWriterTest, WrittenTextParsesBackToAnEqualValue) {
  const std::string text =
      R"({"blacklisted":["https://a.test", "http://b.test:8080"],"installed":[{"description":"d","icon":"",)"
      R"("install":[{"https://p.test":1700000000}],"name":"n","origin":["https://s.test"],"uuid":"u",)"
      R"("version":["1.0"]}],"permission-mode":"blacklist","whitelisted":null})";
  const Json::Value value = Parse(text);
  EXPECT_EQ(Write(value), text);
  EXPECT_EQ(Parse(Write(value)), value);
}

}  // namespace
}  // namespace vorneth
