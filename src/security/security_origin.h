// The security origin of a URL: the text "scheme://host[:port]" that the host
// uses as the identity of a web page (session, domain permission list, add-on
// records) and as the server part of a package URL.
//
// Only "http", "https" and "file" URLs have an origin. Every "file" URL has
// the same one, "file://_null_.localdomain". For "http" and "https" the URL
// must have a host and no user information (any '@' in the authority refuses
// it); see url_splitter.h for how the URL is split.
//
// Origin text: the lower-case scheme, "://", the host exactly as it stands in
// the URL (its letters keep their case), and ":" with the port only when the
// port is 1 or more. No default port is removed: ":80" stays.
//
// Port number: the leading decimal digits of the port text ("8080abc" gives
// 8080, "0443" gives 443, "abc", "" or no port gives 0); no range check, so
// 70000 stays 70000. A port text whose value exceeds 2147483647 saturates at
// 2147483647: the number is computed without overflow, and a huge port never
// aliases a small, real one.
//
// All texts are byte strings; lower-casing maps ASCII 'A'..'Z' only.
//
// A record is initialised once by its owner and only read afterwards; it
// needs no lock. Each operation opens a trace scope named after it.
#ifndef VORNETH_SECURITY_SECURITY_ORIGIN_H_
#define VORNETH_SECURITY_SECURITY_ORIGIN_H_

#include <cstdint>
#include <string>

namespace vorneth {

struct SecurityOrigin {
  // True after a successful initialisation; cleared at the start of every
  // InitFromUrl.
  bool m_valid = false;
  // "scheme://host" or "scheme://host:port".
  std::string m_origin;
  // The URL exactly as given (for InitFromUrl the whole input, leading and
  // trailing blanks included).
  std::string m_url;
  // Lower case.
  std::string m_scheme;
  // Lower case (unlike the host inside m_origin).
  std::string m_host;
  // 0 when the URL names no usable port.
  int32_t m_port = 0;
  // m_port in decimal, "-" first for a negative value; empty until
  // initialised.
  std::string m_portText;

  // Sets every field from the arguments. Returns false and changes nothing
  // when `url`, `scheme` or `host` is empty (or null). The origin text uses
  // `host` as given and appends ":" + port only for a port of 1 or more.
  bool Init(const char* url, const char* scheme, const char* host, int32_t port);

  // Resolves a NUL-terminated URL (null reads as empty). Returns true when the
  // URL has an accepted scheme and a usable host; on false m_valid is false
  // and every other field is left as it was.
  bool InitFromUrl(const char* url);
};

}  // namespace vorneth

#endif  // VORNETH_SECURITY_SECURITY_ORIGIN_H_
