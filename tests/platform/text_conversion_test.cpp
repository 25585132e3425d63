#include "platform/text_conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace vorneth {
namespace {

using namespace std::string_view_literals;

TEST(Utf8ToWideTest, ConvertsEveryEncodingLength) {
  struct Case {
    std::string_view utf8;
    std::u16string_view wide;
  };
  const Case cases[] = {
      {"abc"sv, u"abc"sv},
      {"a\0b"sv, u"a\0b"sv},        // NUL is an ordinary character
      {"\xC2\x80"sv, u"\u0080"sv},  // smallest 2-byte form
      {"\xC3\xA9"sv, u"\u00E9"sv},
      {"\xDF\xBF"sv, u"\u07FF"sv},      // largest 2-byte form
      {"\xE0\xA0\x80"sv, u"\u0800"sv},  // smallest 3-byte form
      {"\xE2\x82\xAC"sv, u"\u20AC"sv},
      {"\xED\x9F\xBF"sv, u"\uD7FF"sv},  // just below the surrogates
      {"\xEE\x80\x80"sv, u"\uE000"sv},  // just above the surrogates
      {"\xEF\xBF\xBF"sv, u"\uFFFF"sv},
      {"\xF0\x90\x80\x80"sv, u"\xD800\xDC00"sv},  // U+10000
      {"\xF0\x9F\x98\x80"sv, u"\xD83D\xDE00"sv},  // U+1F600
      {"\xF4\x8F\xBF\xBF"sv, u"\xDBFF\xDFFF"sv},  // U+10FFFF
      {"x\xF0\x9F\x98\x80y\xC3\xA9"sv, u"x\xD83D\xDE00y\u00E9"sv},
  };
  for (const Case& c : cases) {
    std::u16string wide = u"stale";
    EXPECT_TRUE(Utf8ToWide(c.utf8, wide)) << testing::PrintToString(std::string(c.utf8));
    EXPECT_TRUE(IsStrictUtf8(c.utf8)) << testing::PrintToString(std::string(c.utf8));
    EXPECT_EQ(wide, c.wide) << testing::PrintToString(std::string(c.utf8));
  }
}

TEST(Utf8ToWideTest, EmptyInputSucceedsWithEmptyOutput) {
  std::u16string wide = u"stale";
  EXPECT_TRUE(Utf8ToWide("", wide));
  EXPECT_TRUE(wide.empty());
}

TEST(Utf8ToWideTest, RejectsMalformedInputAndEmptiesOutput) {
  const std::string_view bad[] = {
      // Overlong forms.
      "\xC0\x80"sv,
      "\xC1\xBF"sv,
      "\xE0\x80\x80"sv,
      "\xE0\x9F\xBF"sv,
      "\xF0\x80\x80\x80"sv,
      "\xF0\x8F\xBF\xBF"sv,
      // Surrogate code points, alone and as a CESU-8 style pair.
      "\xED\xA0\x80"sv,
      "\xED\xBF\xBF"sv,
      "\xED\xA0\xBD\xED\xB8\x80"sv,
      // Above U+10FFFF, and lead bytes that can never start a sequence.
      "\xF4\x90\x80\x80"sv,
      "\xF5\x80\x80\x80"sv,
      "\xF8\x88\x80\x80\x80"sv,
      "\xFF"sv,
      "\xFE"sv,
      // Continuation bytes without a lead byte.
      "\x80"sv,
      "a\xBF"sv,
      // Cut-off sequences, at the end and before another character.
      "\xC3"sv,
      "\xE2\x82"sv,
      "\xF0\x9F\x98"sv,
      "ok\xF0\x9F"sv,
      "\xE2\x82"
      "A"sv,
      "\xC3\xC3\xA9"sv,
  };
  for (std::string_view utf8 : bad) {
    std::u16string wide = u"stale";
    EXPECT_FALSE(Utf8ToWide(utf8, wide)) << testing::PrintToString(std::string(utf8));
    EXPECT_FALSE(IsStrictUtf8(utf8)) << testing::PrintToString(std::string(utf8));
    EXPECT_TRUE(wide.empty()) << testing::PrintToString(std::string(utf8));
  }
}

TEST(WideToUtf8Test, ConvertsCharactersAndPairs) {
  std::string utf8 = "stale";
  EXPECT_TRUE(WideToUtf8(u"a\0\u00E9\u20AC\xD83D\xDE00\xDBFF\xDFFF"sv, utf8));
  EXPECT_EQ(utf8, "a\0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"sv);

  EXPECT_TRUE(WideToUtf8(u"", utf8));
  EXPECT_TRUE(utf8.empty());
}

TEST(WideToUtf8Test, RejectsUnpairedSurrogatesAndEmptiesOutput) {
  const std::u16string_view bad[] = {
      u"\xD800"sv,  // high surrogate at the end
      u"\xDC00"sv,  // low surrogate alone
      u"a\xD800"
      u"b"sv,                   // high surrogate followed by an ordinary character
      u"\xDC00\xD800"sv,        // pair in the wrong order
      u"\xD800\xD800\xDC00"sv,  // two highs, then one low
      u"\xD83D\xDE00\xDE00"sv,  // valid pair followed by a stray low
  };
  for (std::u16string_view wide : bad) {
    std::string utf8 = "stale";
    EXPECT_FALSE(WideToUtf8(wide, utf8));
    EXPECT_TRUE(utf8.empty());
  }
}

// Every code point survives the trip UTF-16 -> UTF-8 -> UTF-16 and takes as
// many UTF-8 bytes as its range demands; every lone surrogate unit is refused.
TEST(TextConversionTest, RoundTripsEveryCodePoint) {
  int failures = 0;
  for (char32_t code = 0; code <= 0x10FFFF && failures < 10; ++code) {
    std::u16string wide;
    if (code >= 0xD800 && code <= 0xDFFF) {
      wide.push_back(static_cast<char16_t>(code));
      std::string utf8;
      if (WideToUtf8(wide, utf8))
        ++failures, ADD_FAILURE() << "lone surrogate accepted: " << static_cast<unsigned long>(code);
      continue;
    }
    if (code < 0x10000) {
      wide.push_back(static_cast<char16_t>(code));
    } else {
      wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
    const size_t expected_length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    std::string utf8;
    std::u16string back;
    if (!WideToUtf8(wide, utf8) || utf8.size() != expected_length || !Utf8ToWide(utf8, back) || back != wide) {
      ++failures;
      ADD_FAILURE() << "code point " << static_cast<unsigned long>(code) << " does not round-trip";
    }
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace vorneth
