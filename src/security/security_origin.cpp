#include "security/security_origin.h"

#include <string_view>

#include "platform/trace.h"
#include "security/url_splitter.h"

namespace vorneth {

namespace {

constexpr char kFileHost[] = "_null_.localdomain";

void LowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

// Leading decimal digits of `text`, saturating at INT32_MAX. The running
// value never exceeds INT32_MAX before the multiplication, so the 64-bit
// arithmetic cannot overflow.
int32_t LeadingDigitsValue(std::string_view text) {
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) value = INT32_MAX;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

bool SecurityOrigin::Init(const char* url, const char* scheme, const char* host, int32_t port) {
  TraceFunction trace("SecurityOrigin::Init");
  trace.Number("port", port);

  if (url == nullptr || scheme == nullptr || host == nullptr || *url == '\0' || *scheme == '\0' || *host == '\0') {
    return false;
  }

  m_url = url;
  m_scheme = scheme;
  m_host = host;
  m_port = port;
  m_portText = std::to_string(port);
  LowerAscii(m_scheme);
  LowerAscii(m_host);

  m_origin = m_scheme;
  m_origin += "://";
  m_origin += host;
  if (port >= 1) {
    m_origin += ':';
    m_origin += m_portText;
  }
  m_valid = true;
  return true;
}

bool SecurityOrigin::InitFromUrl(const char* url) {
  TraceFunction trace("SecurityOrigin::InitFromUrl");
  m_valid = false;

  const std::string_view input = url != nullptr ? std::string_view(url) : std::string_view();
  size_t start = 0;
  while (start < input.size() && static_cast<unsigned char>(input[start]) <= 0x20) ++start;
  if (start == input.size()) return false;

  const size_t colon = input.find(':', start);
  if (colon == std::string_view::npos) return false;
  std::string scheme(input.substr(start, colon - start));
  LowerAscii(scheme);

  if (scheme == "http" || scheme == "https") {
    const UrlParts parts = SplitStandardUrl(input);
    if (parts.username.is_present() || parts.password.is_present() || !parts.host.is_present()) return false;
    const int32_t port = LeadingDigitsValue(parts.port.in(input));
    const std::string host(parts.host.in(input));
    return Init(url, scheme.c_str(), host.c_str(), port);
  }
  if (scheme == "file") return Init(url, "file", kFileHost, 0);
  return false;
}

}  // namespace vorneth
