// The bound of the values a JSON text is parsed into, against the values
// Json::Reader really builds.
#include "json/parse_cost.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json_conversions.h"
#include "json_text_generator.h"

namespace vorneth {
namespace {

// Every value of the tree: the root, each element and each member.
size_t CountValues(const Json::Value& value) {
  size_t count = 1;
  if (value.isArray() || value.isObject()) {
    for (const Json::Value& child : value) count += CountValues(child);
  }
  return count;
}

// Brackets and commas count, and comments (which may stand for a comma);
// what strings and comments hold does not.
TEST(ParseCostTest, StructureOutsideStringsAndCommentsIsCounted) {
  const std::pair<const char*, size_t> cases[] = {
      {"", 1},
      {"0", 1},
      {"[]", 2},
      {"[0,0,0]", 4},
      {R"({"a":1,"b":[2,3]})", 5},
      {R"(["a,b[c{d"])", 2},
      {R"(["a\",[x", "y"])", 3},
      {R"(["a\\", "y"])", 3},
      {R"(["\\\"],["])", 2},
      {"[1, /* ,,[{ */ 2] // ,,,\n", 5},
      {"[1, // ,,,\n 2]", 4},
      {R"({"a":1 /**/ x "b":2})", 3},
      {R"(["unterminated, [)", 2},
      {"[1 /* unterminated , ,", 3},
  };
  for (const auto& [text, count] : cases) {
    EXPECT_EQ(JsonValueCountBound(text), count) << text;
    Json::Value parsed;
    ParseJson(text, parsed);
    EXPECT_GE(count, CountValues(parsed)) << text;
  }
}

// Values, requests and their mutations (damaged texts build what came
// before the damage): the bound is never below the values built.
TEST(ParseCostTest, TheBoundHoldsForWhatTheReaderBuilds) {
  testing::JsonTextGenerator generator(12);
  for (int i = 0; i < 3000; ++i) {
    const std::string plain = i % 2 == 0 ? generator.Value(4) : generator.Request();
    for (const std::string& text : {plain, generator.Mutate(plain)}) {
      Json::Value parsed;
      ParseJson(text, parsed);
      EXPECT_GE(JsonValueCountBound(text), CountValues(parsed)) << text;
    }
  }
}

}  // namespace
}  // namespace vorneth
