#include "security/url_splitter.h"

namespace vorneth {

namespace {

bool IsTrimmable(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}
bool IsSlash(char c) {
  return c == '/' || c == '\\';
}
bool EndsAuthority(char c) {
  return IsSlash(c) || c == '?' || c == '#' || c == ';';
}

// Component over the half-open range [begin, end) of the input.
UrlComponent Range(size_t begin, size_t end) {
  UrlComponent component;
  component.begin = static_cast<std::ptrdiff_t>(begin);
  component.len = static_cast<std::ptrdiff_t>(end - begin);
  return component;
}

// User information [begin, end): user name up to the first ':', password
// after it.
void SplitUserInfo(std::string_view spec, size_t begin, size_t end, UrlParts& parts) {
  size_t colon = begin;
  while (colon < end && spec[colon] != ':') ++colon;
  if (colon < end) {
    parts.username = Range(begin, colon);
    parts.password = Range(colon + 1, end);
  } else {
    parts.username = Range(begin, end);
  }
}

// Server part [begin, end), not empty: host and optional port.
void SplitServer(std::string_view spec, size_t begin, size_t end, UrlParts& parts) {
  size_t separator = end;  // end = none found
  for (size_t i = end; i > begin; --i) {
    const char c = spec[i - 1];
    if (c == ']') break;  // colons further left belong to an IPv6 literal
    if (c == ':') {
      separator = i - 1;
      break;
    }
  }
  if (separator == end) {
    parts.host = Range(begin, end);
    return;
  }
  if (separator > begin) parts.host = Range(begin, separator);
  parts.port = Range(separator + 1, end);
}

}  // namespace

UrlParts SplitStandardUrl(std::string_view spec) {
  UrlParts parts;

  size_t begin = 0;
  size_t end = spec.size();
  while (begin < end && IsTrimmable(spec[begin])) ++begin;
  while (end > begin && IsTrimmable(spec[end - 1])) --end;

  size_t after_scheme = begin;
  for (size_t i = begin; i < end; ++i) {
    if (spec[i] == ':') {
      parts.scheme = Range(begin, i);
      after_scheme = i + 1;
      break;
    }
  }

  size_t authority_begin = after_scheme;
  while (authority_begin < end && IsSlash(spec[authority_begin])) ++authority_begin;
  size_t authority_end = authority_begin;
  while (authority_end < end && !EndsAuthority(spec[authority_end])) ++authority_end;
  if (authority_begin == authority_end) return parts;

  size_t server_begin = authority_begin;
  for (size_t i = authority_end; i > authority_begin; --i) {
    if (spec[i - 1] == '@') {
      SplitUserInfo(spec, authority_begin, i - 1, parts);
      server_begin = i;
      break;
    }
  }
  if (server_begin < authority_end) SplitServer(spec, server_begin, authority_end, parts);
  return parts;
}

}  // namespace vorneth
