#include "security/url_splitter.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace vorneth {
namespace {

// Renders a component as its text in `spec`, or "<absent>"; an absent
// component must also start at 0.
std::string Show(std::string_view spec, const UrlComponent& c) {
  if (!c.is_present()) return c.begin == 0 && c.len == -1 ? "<absent>" : "<bad absent>";
  return std::string(c.in(spec));
}

struct SplitCase {
  std::string_view spec;
  std::string_view scheme;
  std::string_view username;
  std::string_view password;
  std::string_view host;
  std::string_view port;
};

TEST(UrlSplitter, SplitsTrickyInputs) {
  using namespace std::literals;
  const std::string_view A = "<absent>";
  const SplitCase cases[] = {
      // Bracketed IPv6 literals: colons inside the brackets never separate.
      {"http://[::1]:8443/x", "http", A, A, "[::1]", "8443"},
      {"http://[::1]/x", "http", A, A, "[::1]", A},
      {"http://[fe80::1]:/", "http", A, A, "[fe80::1]", ""},
      {"http://[::1]x/", "http", A, A, "[::1]x", A},
      {"http://x:1]/", "http", A, A, "x:1]", A},
      // The last "@" wins; the user name ends at the first ":".
      {"http://a@b:c@host:1/", "http", "a@b", "c", "host", "1"},
      {"http://user:pa:ss@h", "http", "user", "pa:ss", "h", A},
      {"http://@host", "http", "", A, "host", A},
      {"http://:@host", "http", "", "", "host", A},
      {"http://user@", "http", "user", A, A, A},
      // Empty and missing ports and hosts.
      {"http://host:/", "http", A, A, "host", ""},
      {"http://:80/", "http", A, A, A, "80"},
      {"http://a:b:c/", "http", A, A, "a:b", "c"},
      {"http:", "http", A, A, A, A},
      {"http://?x", "http", A, A, A, A},
      {":", "", A, A, A, A},
      // Trimming of blanks and control bytes at both ends only.
      {" \t\x01http://h o\x7f:9 \r\n", "http", A, A, "h o\x7f", "9"},
      {"  http://host  /p", "http", A, A, "host  ", A},
      {"\x20\x20", A, A, A, A, A},
      {"", A, A, A, A, A},
      // Slashes and backslashes in any mix and number; authority terminators.
      {"http:\\/\\\\/host/x", "http", A, A, "host", A},
      {"http:host", "http", A, A, "host", A},
      {"http://host;p=1", "http", A, A, "host", A},
      {"http://host#f", "http", A, A, "host", A},
      {"http://host\\x", "http", A, A, "host", A},
      // No colon at all: no scheme, the whole text is the authority.
      {"host.test/p", A, A, A, "host.test", A},
      // Bytes after an embedded NUL are still input.
      {"h\0p://x"sv, "h\0p"sv, A, A, "x", A},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << '"' << std::string(c.spec) << '"');
    const UrlParts parts = SplitStandardUrl(c.spec);
    EXPECT_EQ(Show(c.spec, parts.scheme), c.scheme);
    EXPECT_EQ(Show(c.spec, parts.username), c.username);
    EXPECT_EQ(Show(c.spec, parts.password), c.password);
    EXPECT_EQ(Show(c.spec, parts.host), c.host);
    EXPECT_EQ(Show(c.spec, parts.port), c.port);
  }
}

TEST(UrlSplitter, ReportsIndicesIntoTheUntrimmedInput) {
  const std::string_view spec = "  HTTP://u:p@Host:81/";
  const UrlParts parts = SplitStandardUrl(spec);
  EXPECT_EQ(parts.scheme.begin, 2);
  EXPECT_EQ(parts.scheme.len, 4);
  EXPECT_EQ(parts.username.begin, 9);
  EXPECT_EQ(parts.username.len, 1);
  EXPECT_EQ(parts.password.begin, 11);
  EXPECT_EQ(parts.password.len, 1);
  EXPECT_EQ(parts.host.begin, 13);
  EXPECT_EQ(parts.host.len, 4);
  EXPECT_EQ(parts.port.begin, 18);
  EXPECT_EQ(parts.port.len, 2);
}

// Every present component lies inside the input, in the order scheme, user
// name, password, host, port, without overlap. Each input sits in a heap
// block of exactly its size so that a sanitizer build flags any stray read.
TEST(UrlSplitter, ComponentsStayInsideGeneratedInputs) {
  static constexpr char kSignificant[] = "hH:/\\@[]?#;09 \t";
  std::mt19937 random(77u);
  for (int round = 0; round < 3000; ++round) {
    const size_t length = random() % 40;
    auto block = std::make_unique<char[]>(length);
    for (size_t i = 0; i < length; ++i) {
      block[i] =
          random() % 2 == 0 ? static_cast<char>(random() % 256) : kSignificant[random() % (sizeof(kSignificant) - 1)];
    }
    const std::string_view spec(block.get(), length);
    const UrlParts parts = SplitStandardUrl(spec);
    std::ptrdiff_t previous_end = 0;
    for (const UrlComponent* c : {&parts.scheme, &parts.username, &parts.password, &parts.host, &parts.port}) {
      if (!c->is_present()) {
        ASSERT_EQ(c->begin, 0);
        ASSERT_EQ(c->len, -1);
        continue;
      }
      ASSERT_GE(c->begin, previous_end);
      ASSERT_LE(c->begin + c->len, static_cast<std::ptrdiff_t>(length));
      previous_end = c->begin + c->len;
    }
  }
}

}  // namespace
}  // namespace vorneth
