// The URL splitter and the security origin against what their headers state.
//
// SplitStandardUrl, on the whole input (NULs included): every part absent
// (length -1, start 0) or inside the input, the parts in order and apart, and
// the same parts as a second splitter written here straight from the rules
// of url_splitter.h with the string searches of the standard library.
//
// SecurityOrigin::InitFromUrl, on the input up to its first NUL: accepted
// exactly when the header says so (scheme "http" or "https" in any case with
// a host and no user information, or "file"); on refusal m_valid false and
// every other field as it was; on acceptance the fields as the header states
// them (lower-case scheme and host, the host as written inside the origin
// text, the saturating port of the leading digits). An accepted origin text
// resolves to itself again whenever the splitter can give its host back:
// with a port, or with a host that ends in neither a port-like ":..." nor a
// blank byte that trimming would take away.
//
// SecurityOrigin::Init with three fuzzed texts and a fuzzed port: refused
// with every field kept when a text is empty, otherwise the fields stated.
//
// A difference prints the input and aborts, which libFuzzer reports as a
// crash with the input saved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "security/security_origin.h"
#include "security/url_splitter.h"

namespace {

using vorneth::SecurityOrigin;
using vorneth::UrlComponent;
using vorneth::UrlParts;

std::string g_input;  // for the report of a difference

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::string shown;
  for (const char c : g_input) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  std::fprintf(stderr, "fuzz_url: %s %.*s\ninput: \"%s\"\n", what, static_cast<int>(detail.size()), detail.data(),
               shown.c_str());
  std::abort();
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

UrlComponent Part(size_t begin, size_t length) {
  UrlComponent part;
  part.begin = static_cast<std::ptrdiff_t>(begin);
  part.len = static_cast<std::ptrdiff_t>(length);
  return part;
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

// The rules of url_splitter.h, one by one.
UrlParts ReferenceSplit(std::string_view spec) {
  UrlParts parts;
  size_t first = 0;
  size_t last = spec.size();
  while (first < last && IsBlank(spec[first])) ++first;
  while (last > first && IsBlank(spec[last - 1])) --last;
  const std::string_view trimmed = spec.substr(first, last - first);

  size_t rest = 0;
  if (const size_t colon = trimmed.find(':'); colon != std::string_view::npos) {
    parts.scheme = Part(first, colon);
    rest = colon + 1;
  }
  rest = std::min(trimmed.find_first_not_of("/\\", rest), trimmed.size());
  const size_t authorityEnd = std::min(trimmed.find_first_of("/\\?#;", rest), trimmed.size());
  if (authorityEnd == rest) return parts;
  const std::string_view authority = trimmed.substr(rest, authorityEnd - rest);
  size_t serverAt = first + rest;
  std::string_view server = authority;
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = authority.substr(0, at);
    if (const size_t colon = user.find(':'); colon != std::string_view::npos) {
      parts.username = Part(serverAt, colon);
      parts.password = Part(serverAt + colon + 1, user.size() - colon - 1);
    } else {
      parts.username = Part(serverAt, user.size());
    }
    serverAt += at + 1;
    server = authority.substr(at + 1);
  }
  if (server.empty()) return parts;
  const size_t colon = server.rfind(':');
  const size_t bracket = server.rfind(']');
  if (colon == std::string_view::npos || (bracket != std::string_view::npos && bracket > colon)) {
    parts.host = Part(serverAt, server.size());
    return parts;
  }
  if (colon > 0) parts.host = Part(serverAt, colon);
  parts.port = Part(serverAt + colon + 1, server.size() - colon - 1);
  return parts;
}

void CheckSplit(std::string_view spec) {
  const UrlParts parts = vorneth::SplitStandardUrl(spec);
  const UrlComponent* all[] = {&parts.scheme, &parts.username, &parts.password, &parts.host, &parts.port};
  const char* names[] = {"scheme", "username", "password", "host", "port"};
  std::ptrdiff_t end = 0;
  for (size_t i = 0; i < 5; ++i) {
    const UrlComponent& part = *all[i];
    if (!part.is_present()) {
      if (part.len != -1 || part.begin != 0) Fail("an absent part is not (0, -1):", names[i]);
      continue;
    }
    if (part.begin < 0 || part.begin + part.len > static_cast<std::ptrdiff_t>(spec.size())) {
      Fail("a part lies outside the input:", names[i]);
    }
    if (part.begin < end) Fail("a part overlaps or precedes the one before:", names[i]);
    end = part.begin + part.len;
  }
  const UrlParts reference = ReferenceSplit(spec);
  const UrlComponent* expected[] = {&reference.scheme, &reference.username, &reference.password, &reference.host,
                                    &reference.port};
  for (size_t i = 0; i < 5; ++i) {
    if (all[i]->begin != expected[i]->begin || all[i]->len != expected[i]->len) {
      Fail("the split differs from the header's rules in:", names[i]);
    }
  }
}

// The port of the header: leading decimal digits, saturating.
int32_t PortOf(std::string_view text) {
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
  }
  return static_cast<int32_t>(value);
}

SecurityOrigin Marked() {
  SecurityOrigin origin;
  origin.m_valid = true;
  origin.m_origin = "origin-mark";
  origin.m_url = "url-mark";
  origin.m_scheme = "scheme-mark";
  origin.m_host = "host-mark";
  origin.m_port = 7;
  origin.m_portText = "7";
  return origin;
}

bool SameFields(const SecurityOrigin& a, const SecurityOrigin& b) {
  return a.m_origin == b.m_origin && a.m_url == b.m_url && a.m_scheme == b.m_scheme && a.m_host == b.m_host &&
         a.m_port == b.m_port && a.m_portText == b.m_portText;
}

void CheckFields(const SecurityOrigin& origin, const std::string& url, const std::string& scheme, std::string_view host,
                 int32_t port) {
  std::string text = scheme + "://" + std::string(host);
  if (port >= 1) text += ":" + std::to_string(port);
  if (!origin.m_valid) Fail("accepted but not valid");
  if (origin.m_url != url) Fail("m_url is not the URL as given");
  if (origin.m_scheme != scheme) Fail("m_scheme differs:", origin.m_scheme);
  if (origin.m_host != Lower(host)) Fail("m_host differs:", origin.m_host);
  if (origin.m_port != port || origin.m_portText != std::to_string(port)) Fail("the port differs:", origin.m_portText);
  if (origin.m_origin != text) Fail("the origin text differs:", origin.m_origin);
}

// An origin text resolves to itself (see the comment at the top for when).
void CheckRoundTrip(const SecurityOrigin& origin) {
  const std::string_view host =
      std::string_view(origin.m_origin).substr(origin.m_scheme.size() + 3, origin.m_host.size());
  const size_t bracket = host.rfind(']');
  const bool portLike = host.find(':', bracket == std::string_view::npos ? 0 : bracket) != std::string_view::npos;
  if (origin.m_port < 1 && (portLike || IsBlank(host.back()))) return;
  SecurityOrigin again;
  if (!again.InitFromUrl(origin.m_origin.c_str())) Fail("an origin text is refused:", origin.m_origin);
  if (again.m_origin != origin.m_origin || again.m_host != origin.m_host || again.m_port != origin.m_port) {
    Fail("an origin text resolves to another origin:", origin.m_origin + " -> " + again.m_origin);
  }
}

void CheckInitFromUrl(const std::string& url) {
  size_t first = 0;
  while (first < url.size() && IsBlank(url[first])) ++first;
  const size_t colon = url.find(':', first);
  const std::string scheme = colon == std::string::npos ? std::string() : Lower(url.substr(first, colon - first));
  const UrlParts parts = vorneth::SplitStandardUrl(url);
  const bool web = scheme == "http" || scheme == "https";
  const bool expected = scheme == "file" || (web && !parts.username.is_present() && !parts.password.is_present() &&
                                             parts.host.is_nonempty());

  SecurityOrigin origin = Marked();
  const bool accepted = origin.InitFromUrl(url.c_str());
  if (accepted != expected) Fail(accepted ? "accepted against the header" : "refused against the header");
  if (!accepted) {
    SecurityOrigin marked = Marked();
    if (origin.m_valid || !SameFields(origin, marked)) Fail("a refusal changed the record");
    return;
  }
  if (scheme == "file") {
    CheckFields(origin, url, "file", "_null_.localdomain", 0);
  } else {
    CheckFields(origin, url, scheme, parts.host.in(url), PortOf(parts.port.in(url)));
  }
  CheckRoundTrip(origin);
}

// Init with texts cut from the input at its first two NULs and the port
// from its first four bytes.
void CheckInit(std::string_view input) {
  int32_t port = 0;
  std::memcpy(&port, input.data(), std::min<size_t>(input.size(), sizeof port));
  const size_t a = input.find('\0');
  const size_t b = a == std::string_view::npos ? a : input.find('\0', a + 1);
  if (b == std::string_view::npos) return;
  const std::string url(input.substr(0, a));
  const std::string scheme(input.substr(a + 1, b - a - 1));
  const std::string host(input.substr(b + 1));  // up to the next NUL, as a C text
  SecurityOrigin origin = Marked();
  const bool accepted = origin.Init(url.c_str(), scheme.c_str(), host.c_str(), port);
  if (url.empty() || scheme.empty() || host.c_str()[0] == '\0') {
    if (accepted || !SameFields(origin, Marked())) Fail("Init took an empty text");
    return;
  }
  if (!accepted) Fail("Init refused three texts");
  CheckFields(origin, url, Lower(scheme), host.c_str(), port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_input.assign(reinterpret_cast<const char*>(data), size);
  CheckSplit(g_input);
  CheckInitFromUrl(std::string(g_input.c_str()));
  CheckInit(g_input);
  return 0;
}
