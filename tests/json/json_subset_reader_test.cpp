// The subset reader against Json::Reader: whatever it accepts, Json::Reader
// accepts too and reads into the same value (types and offsets included).
#include "json/json_subset_reader.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "json/json_conversions.h"
#include "json/json_text_generator.h"

namespace vorneth {
namespace {

using testing::JsonTextGenerator;
using testing::Raw;
using testing::SameValue;

std::string NestedArrays(int depth, const std::string& inner = "") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

// Reads `text` both ways; true when the subset reader accepted it, in which
// case the two values must be the same.
bool AcceptsLikeTheReader(const std::string& text, const std::string& context = "") {
  Json::Value subset;
  const bool accepted = ReadJsonSubset(text, subset);
  if (!accepted) {
    EXPECT_TRUE(subset.isNull()) << "a refused text leaves nothing behind: " << context;
    return false;
  }
  Json::Value reader;
  EXPECT_TRUE(ParseJson(text, reader)) << "accepted outside the reader's JSON: " << ::testing::PrintToString(text)
                                       << context;
  EXPECT_EQ(SameValue(subset, reader), "") << ::testing::PrintToString(text) << context;
  return true;
}

// The comparison every test here (and the request reader's fuzz target)
// rests on: it must tell each kind of difference, and where it is.
TEST(SameValueTest, FindsTheFirstDifferenceAndNamesItsPath) {
  const auto read = [](const std::string& text) {
    Json::Value value;
    EXPECT_TRUE(ParseJson(text, value)) << text;
    return value;
  };
  const Json::Value deep = read(NestedArrays(900, "{\"k\":[1,2]}"));
  EXPECT_EQ(SameValue(deep, read(NestedArrays(900, "{\"k\":[1,2]}"))), "");
  const std::string path = "$" + [] {
    std::string p;
    for (int i = 0; i < 900; ++i) p += "/0";
    return p;
  }() + "/k/1";
  EXPECT_EQ(SameValue(deep, read(NestedArrays(900, "{\"k\":[1,3]}"))), path + ": values differ");
  EXPECT_EQ(SameValue(read(R"({"a":[1,"xy"]})"), read(R"({"a":[1,true]})")), "$/a/1: type 4 vs 5");
  EXPECT_EQ(SameValue(read(R"({"a":1,"b":2})"), read(R"({"a":1,"c":2})")), "$: members differ");
  EXPECT_EQ(SameValue(read(R"({"a":1,"b":{}})"), read(R"({"a":2,"c":{}})")), "$: members differ")
      << "names are compared before any member's value";
  EXPECT_EQ(SameValue(read("[1,234]"), read("[1,2,3]")), "$: members differ");
  EXPECT_EQ(SameValue(read("[1, 2]"), read("[1,2 ]")), "$/1: offsets 4-5 vs 3-4");
  EXPECT_EQ(SameValue(read("[1, 2]"), read("[1,  2]")), "$: offsets 0-6 vs 0-7");
  EXPECT_EQ(SameValue(read(R"({"a":[0]})"), read(R"({"a":[0]})"), "root"), "");
  EXPECT_EQ(SameValue(read(R"({"a":[0]})"), read(R"({"a":[1]})"), "root"), "root/a/0: values differ");
}

TEST(JsonSubsetReaderTest, IntegersTakeTheReadersTypesOnBothSidesOfEachBoundary) {
  const struct {
    const char* text;
    Json::ValueType type;
  } cases[] = {
      {"0", Json::intValue},
      {"-0", Json::intValue},
      {"2147483647", Json::intValue},
      {"2147483648", Json::uintValue},
      {"-2147483648", Json::intValue},
      {"-2147483649", Json::intValue},
      {"4294967296", Json::uintValue},
      {"999999999999999999", Json::uintValue},
      {"-999999999999999999", Json::intValue},
  };
  for (const auto& [text, type] : cases) {
    Json::Value value;
    ASSERT_TRUE(ReadJsonSubset(text, value)) << text;
    EXPECT_EQ(value.type(), type) << text;
    EXPECT_TRUE(AcceptsLikeTheReader(text));
    EXPECT_TRUE(AcceptsLikeTheReader(std::string("[") + text + "]"));
    EXPECT_TRUE(AcceptsLikeTheReader(std::string("{\"n\":") + text + "}"));
  }
  // 19 digits, reals, exponents, leading zeros and a lone '-' are left to
  // the reader (which reads most of them, some as doubles).
  for (const char* text : {"1000000000000000000", "-1000000000000000000", "9223372036854775808", "1.5", "1.", "1e5",
                           "1E5", "-0.0", "00", "01", "-01", "-", "-a", "+1", "1x", "[1x]", "[0x1]", "[-]"}) {
    EXPECT_FALSE(AcceptsLikeTheReader(text)) << text;
  }
}

TEST(JsonSubsetReaderTest, StringsKeepEveryByteButEscapesAreLeftToTheReader) {
  for (const std::string& text : {Raw("\"\""), Raw("\"a\0b\""), Raw("\"\x01\x1f\x7f\""), Raw("\"\xff\xc3\""),
                                  Raw("{\"a\0b\":1,\"\x01\":2,\"\xff\":3,\"\":4}"), Raw("\"/*not a comment*/\"")}) {
    EXPECT_TRUE(AcceptsLikeTheReader(text)) << ::testing::PrintToString(text);
  }
  Json::Value value;
  ASSERT_TRUE(ReadJsonSubset(std::string("\"a\0b\"", 5), value));
  EXPECT_EQ(value.asString(), std::string("a\0b", 3));
  for (const char* text : {R"("a\nb")", R"("\"")", R"("\u0041")", R"({"a\"":1})", "\"abc", "\"", "\"a\\"}) {
    EXPECT_FALSE(AcceptsLikeTheReader(text)) << text;
  }
  // A long string is read whole, whatever its length modulo the word size.
  for (size_t length : {size_t{7}, size_t{8}, size_t{9}, size_t{1000}, size_t{1} << 20}) {
    std::string text = "\"" + std::string(length, 'x') + "\"";
    ASSERT_TRUE(ReadJsonSubset(text, value)) << length;
    EXPECT_EQ(value.asString().size(), length);
    text.insert(text.size() - 2, "\\");
    EXPECT_FALSE(ReadJsonSubset(text, value)) << "an escape at the end of " << length << " bytes";
  }
}

TEST(JsonSubsetReaderTest, StructureWhitespaceAndWhatFollowsTheRoot) {
  for (const char* text : {"{}", " {\t}\r\n", "[]", "[ ]", "true", "false", "null", "\t\r\n {\n\"a\"\t:\r1\n}\n",
                           R"({"a":1,"a":{"x":[2]}})", R"({"a":{"x":1},"a":[2,"b"]})", R"({"a":[],"b":{},"c":[{}]})",
                           R"([null,true,false,"x",-1,{"k":[]}])"}) {
    EXPECT_TRUE(AcceptsLikeTheReader(text)) << text;
  }
  // The last of repeated members wins, as in the reader.
  Json::Value value;
  ASSERT_TRUE(ReadJsonSubset(R"({"a":{"x":1},"a":[2]})", value));
  EXPECT_EQ(value["a"][0], 2);
  // The reader ignores what follows the root value; the subset does not
  // take such texts. Comments, a form feed, a byte order mark, missing or
  // extra commas and the reader's own oddities ({"":1,} passes there) are
  // left to the reader too.
  for (const std::string& text : {std::string("{} x"),
                                  std::string("{}}"),
                                  std::string("{}\0", 3),
                                  std::string("truex"),
                                  std::string("nul"),
                                  std::string("True"),
                                  std::string("{}/*c*/"),
                                  std::string("//c\n{}"),
                                  std::string("{\"a\"/*c*/:1}"),
                                  std::string("\f{}"),
                                  std::string("\xEF\xBB\xBF{}"),
                                  std::string("[1,]"),
                                  std::string("[,1]"),
                                  std::string("[1 2]"),
                                  std::string("{\"a\":1,}"),
                                  std::string("{\"\":1,}"),
                                  std::string("{\"a\" 1}"),
                                  std::string("{a:1}"),
                                  std::string("{1:1}"),
                                  std::string(""),
                                  std::string("   "),
                                  std::string("[1]]")}) {
    EXPECT_FALSE(AcceptsLikeTheReader(text)) << ::testing::PrintToString(text);
  }
}

TEST(JsonSubsetReaderTest, NestingStopsAtTheLimit) {
  EXPECT_TRUE(AcceptsLikeTheReader(NestedArrays(kMaxSubsetDepth)));
  EXPECT_FALSE(AcceptsLikeTheReader(NestedArrays(kMaxSubsetDepth + 1)));
  std::string objects = "1";
  for (int level = 0; level < kMaxSubsetDepth; ++level) objects = "{\"a\":" + objects + "}";
  EXPECT_TRUE(AcceptsLikeTheReader(objects));
  EXPECT_FALSE(AcceptsLikeTheReader("[" + objects + "]"));
  // Deeper than the reader itself allows: it throws, the subset refuses.
  EXPECT_FALSE(AcceptsLikeTheReader(NestedArrays(5000)));
}

TEST(JsonSubsetReaderTest, EveryTruncationOfARequestIsRefused) {
  const std::string request =
      R"({"type":"Vorneth","command":"InstallAddOns","params":[["a","b"],-12,true,null,{"k":false}],)"
      R"("callbackId":"12","portId":"p"} )";
  ASSERT_TRUE(AcceptsLikeTheReader(request));
  for (size_t cut = 0; cut + 1 < request.size(); ++cut) {
    EXPECT_FALSE(AcceptsLikeTheReader(request.substr(0, cut))) << cut;
  }
}

// Generated values and requests, then mutations of them. Reports how many
// the subset took: plain ones must mostly be taken, or the comparison
// would prove nothing.
TEST(JsonSubsetReaderTest, GeneratedAndMutatedTextsReadAsTheReaderReadsThem) {
  const uint32_t seed = 20261208;
  JsonTextGenerator generator(seed);
  size_t generated = 0, generatedAccepted = 0, mutated = 0, mutatedAccepted = 0;
  for (int round = 0; round < 20000; ++round) {
    const std::string text = round % 2 == 0 ? generator.Value(4) : generator.Request();
    const std::string context = " (seed " + std::to_string(seed) + ", round " + std::to_string(round) + ")";
    ++generated;
    generatedAccepted += AcceptsLikeTheReader(text, context);
    for (int variant = 0; variant < 3; ++variant) {
      ++mutated;
      mutatedAccepted += AcceptsLikeTheReader(generator.Mutate(text), context + " mutated");
    }
    if (::testing::Test::HasFailure()) break;
  }
  std::cout << "subset took " << generatedAccepted << " of " << generated << " generated texts and " << mutatedAccepted
            << " of " << mutated << " mutated ones\n";
  EXPECT_GT(generatedAccepted, generated / 3);
  EXPECT_GT(mutatedAccepted, mutated / 20);
}

// The member visitor: names in order with repeats, values read on demand,
// the others checked all the same.
class RecordingVisitor final : public SubsetMemberVisitor {
 public:
  void Visit(std::string_view name, SubsetMember& value) override {
    m_names.emplace_back(name);
    m_kinds.push_back(value.kind());
    if (name == "s") m_strings.emplace_back(value.String());
    if (name == "v") value.Read(m_value);
  }
  std::vector<std::string> m_names;
  std::vector<SubsetKind> m_kinds;
  std::vector<std::string> m_strings;
  Json::Value m_value;
};

TEST(JsonSubsetVisitorTest, VisitsMembersInOrderAndChecksWhatItSkips) {
  const std::string text = R"( {"a":1,"s":"x y","v":[1,{"b":null}],"a":tr)" + Raw("ue,\"\0\":{}} ");
  RecordingVisitor visitor;
  ASSERT_EQ(VisitSubsetRoot(text, visitor), SubsetRoot::kObject);
  EXPECT_EQ(visitor.m_names, (std::vector<std::string>{"a", "s", "v", "a", std::string(1, '\0')}));
  EXPECT_EQ(visitor.m_kinds, (std::vector<SubsetKind>{SubsetKind::kInteger, SubsetKind::kString, SubsetKind::kArray,
                                                      SubsetKind::kTrue, SubsetKind::kObject}));
  EXPECT_EQ(visitor.m_strings, std::vector<std::string>{"x y"});
  Json::Value whole;
  ASSERT_TRUE(ParseJson(text, whole));
  EXPECT_EQ(SameValue(visitor.m_value, whole["v"]), "") << "offsets count from the start of the text";

  // A skipped value is checked all the same; a string read from a value
  // that is none, or an escape in it, fails the visit.
  for (const std::string& outside :
       {std::string(R"({"a":tru})"), std::string(R"({"a":[1.5]})"), std::string(R"({"s":5})"),
        std::string(R"({"s":"a\"b"})"), std::string(R"({"v":01})"), std::string(R"({"a":1} x)"),
        std::string(R"({"a":1)"), "{\"a\":" + NestedArrays(kMaxSubsetDepth) + "}"}) {
    RecordingVisitor refused;
    EXPECT_EQ(VisitSubsetRoot(outside, refused), SubsetRoot::kOutside) << outside;
  }
  RecordingVisitor none;
  EXPECT_EQ(VisitSubsetRoot(" null ", none), SubsetRoot::kNull);
  for (const char* other : {"[1]", "\"p\"", "5", "true", "[]"}) {
    EXPECT_EQ(VisitSubsetRoot(other, none), SubsetRoot::kOther) << other;
  }
  EXPECT_TRUE(none.m_names.empty());
}

}  // namespace
}  // namespace vorneth
