// Seeded JSON texts for differential tests: values and requests that are
// mostly plain (inside the subset the fast reader takes) with now and then
// a piece that is not (an escape, a real, a comment, a leading zero), and
// mutations of any text (bytes replaced, inserted, deleted, cut off).
//
// Also SameValue, the strict comparison of two Json::Values: types, values
// and source offsets, recursively; and Raw, the bytes of a literal.
//
// The same seed gives the same texts on every machine (std::mt19937 is
// fully specified; only its raw output is used).
#ifndef VORNETH_TESTS_JSON_JSON_TEXT_GENERATOR_H_
#define VORNETH_TESTS_JSON_JSON_TEXT_GENERATOR_H_

#include <json/value.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorneth::testing {

// The bytes of a literal, embedded NULs included.
template <size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

namespace detail {

// The name of an object member that `it` points at, without a copy.
inline std::string_view MemberName(const Json::Value::const_iterator& it) {
  const char* end = nullptr;
  const char* begin = it.memberName(&end);
  return begin == nullptr ? std::string_view() : std::string_view(begin, static_cast<size_t>(end - begin));
}

// "" when `a` and `b` are the same throughout; otherwise the rest of the
// path to where they first differ and how ("/key/0: type 1 vs 2"). Nothing
// is allocated while they agree: the fuzz targets compare every value they
// read, nested up to a thousand levels deep.
inline std::string Difference(const Json::Value& a, const Json::Value& b) {
  if (a.type() != b.type()) return ": type " + std::to_string(a.type()) + " vs " + std::to_string(b.type());
  if (a.getOffsetStart() != b.getOffsetStart() || a.getOffsetLimit() != b.getOffsetLimit()) {
    return ": offsets " + std::to_string(a.getOffsetStart()) + "-" + std::to_string(a.getOffsetLimit()) + " vs " +
           std::to_string(b.getOffsetStart()) + "-" + std::to_string(b.getOffsetLimit());
  }
  if (!a.isArray() && !a.isObject()) return a == b ? "" : ": values differ";
  if (a.size() != b.size()) return ": members differ";
  if (a.isObject()) {
    for (auto ai = a.begin(), bi = b.begin(); ai != a.end(); ++ai, ++bi) {
      if (MemberName(ai) != MemberName(bi)) return ": members differ";
    }
  }
  for (auto ai = a.begin(), bi = b.begin(); ai != a.end(); ++ai, ++bi) {
    std::string difference = Difference(*ai, *bi);
    if (!difference.empty()) {
      const std::string key = a.isArray() ? std::to_string(ai.index()) : std::string(MemberName(ai));
      return "/" + key + difference;
    }
  }
  return "";
}

}  // namespace detail

// "" when `a` and `b` have the same type, value and offsets throughout;
// otherwise where and how they differ first.
inline std::string SameValue(const Json::Value& a, const Json::Value& b, const std::string& path = "$") {
  std::string difference = detail::Difference(a, b);
  return difference.empty() ? difference : path + difference;
}

class JsonTextGenerator {
 public:
  explicit JsonTextGenerator(uint32_t seed) : m_random(seed) {}

  // A value, whitespace included, nested at most `depth` further levels.
  std::string Value(int depth) {
    switch (Below(depth > 0 ? 7 : 5)) {
      case 0:
        return Word();
      case 1:
      case 2:
        return Number();
      case 3:
      case 4:
        return Quoted(Bytes());
      case 5:
        return Array(depth);
      default:
        return Object(depth);
    }
  }

  // A request body: the members the router reads, in any order, now and
  // then of another type, repeated, or beside a member nobody reads.
  std::string Request() {
    static const char* const kNames[] = {"type", "command", "portId", "url", "version", "callbackId", "params"};
    static const char* const kTexts[] = {"Vorneth",        "Vorneth-I", "GetVersion", "Create",    "https://a.test/",
                                         "GetHostVersion", "7",         "",           "vorneth-I", "Vorneth "};
    std::vector<std::string> members;
    for (const char* name : kNames) {
      if (OneIn(6)) continue;
      std::string value;
      if (std::string_view(name) == "params") {
        value = OneIn(4) ? Value(3) : Array(3);
      } else {
        value = OneIn(5) ? Value(2) : Quoted(OneIn(6) ? Bytes() : kTexts[Below(std::size(kTexts))]);
      }
      members.push_back(Quoted(name) + Space() + ":" + Space() + value);
      if (OneIn(10)) members.push_back(Quoted(name) + ":" + Value(1));
    }
    if (OneIn(3)) members.push_back(Quoted(Bytes()) + ":" + Value(2));
    for (size_t i = members.size(); i > 1; --i) std::swap(members[i - 1], members[Below(i)]);
    return Space() + "{" + Space() + Join(members) + Space() + "}" + Space();
  }

  // `text` with one to three bytes replaced, inserted or deleted, or cut off.
  std::string Mutate(std::string text) {
    static const char kBytes[] = "\"\\{}[],:0-.eE /*tn\x01\xff x";
    for (size_t steps = 1 + Below(3); steps > 0; --steps) {
      const size_t at = Below(text.size() + 1);
      const char byte = OneIn(8) ? '\0' : kBytes[Below(sizeof kBytes - 1)];
      switch (Below(4)) {
        case 0:
          if (at < text.size()) text[at] = byte;
          break;
        case 1:
          text.insert(at, 1, byte);
          break;
        case 2:
          if (at < text.size()) text.erase(at, 1);
          break;
        default:
          text.resize(at);
          break;
      }
    }
    return text;
  }

  size_t Below(size_t n) { return static_cast<size_t>(m_random() % n); }
  bool OneIn(size_t n) { return Below(n) == 0; }

 private:
  std::string Space() {
    static const char kSpaces[] = " \t\r\n";
    std::string space;
    if (OneIn(3)) {
      for (size_t count = 1 + Below(3); count > 0; --count) space += kSpaces[Below(4)];
    }
    return space;
  }

  std::string Word() {
    static const char* const kWords[] = {"null", "true", "false", "nul", "True", "/*c*/null", "null//c\n"};
    return OneIn(12) ? kWords[3 + Below(4)] : kWords[Below(3)];
  }

  std::string Number() {
    static const char* const kEdges[] = {
        "0",
        "-0",
        "2147483647",
        "2147483648",
        "-2147483648",
        "-2147483649",
        "4294967295",
        "4294967296",
        "999999999999999999",
        "-999999999999999999",
        "1000000000000000000",
        "9223372036854775807",
        "9223372036854775808",
        "-9223372036854775808",
        "-9223372036854775809",
        "18446744073709551615",
        "18446744073709551616",
        "1.5",
        "-0.0",
        "1e5",
        "2E-3",
        "00",
        "01",
        "-",
    };
    if (OneIn(3)) return kEdges[Below(std::size(kEdges))];
    std::string digits = OneIn(3) ? "-" : "";
    digits += static_cast<char>('1' + Below(9));
    for (size_t count = Below(20); count > 0; --count) digits += static_cast<char>('0' + Below(10));
    return digits;
  }

  // Raw bytes for a string: NUL, control bytes and bytes of 0x80 and above
  // among them, now and then an escape.
  std::string Bytes() {
    static const char kPlain[] = "ab yZ/09\x01\x1f\x7f\x80\xc3\xa9\xff'";
    static const char* const kEscapes[] = {"\\\"", "\\\\", "\\n", "\\/", "\\u0041", "\\u00e9", "\\ud83d\\ude00", "\\x"};
    std::string bytes;
    for (size_t count = Below(10); count > 0; --count) {
      if (OneIn(40)) {
        bytes += kEscapes[Below(std::size(kEscapes))];
      } else {
        bytes += OneIn(15) ? '\0' : kPlain[Below(sizeof kPlain - 1)];
      }
    }
    return bytes;
  }

  static std::string Quoted(const std::string& bytes) { return "\"" + bytes + "\""; }

  std::string Array(int depth) {
    std::vector<std::string> elements;
    for (size_t count = Below(5); count > 0; --count) elements.push_back(Space() + Value(depth - 1) + Space());
    return "[" + Space() + Join(elements) + "]";
  }

  std::string Object(int depth) {
    static const char* const kNames[] = {"a", "b", "", "params", "type"};
    std::vector<std::string> members;
    for (size_t count = Below(5); count > 0; --count) {
      const std::string name = OneIn(4) ? Bytes() : kNames[Below(std::size(kNames))];
      members.push_back(Space() + Quoted(name) + Space() + ":" + Space() + Value(depth - 1) + Space());
    }
    return "{" + Space() + Join(members) + "}";
  }

  std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ",") + part;
    return text;
  }

  std::mt19937 m_random;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_JSON_JSON_TEXT_GENERATOR_H_
