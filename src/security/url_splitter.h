// Splitting of a standard URL (one with an authority) into the parts that
// make up its origin.
//
// The splitter only locates parts; it copies, decodes and validates nothing.
// Each part is a UrlComponent: a start index into the input and a length.
// Length -1 means the part is absent (its start is then 0); length 0 means
// the part is present but empty. Every reported range lies inside the input.
//
// Rules, all applied inside the input with leading and trailing bytes of
// unsigned value 0x20 or less trimmed off:
//  - scheme: from the start up to the first ':'. Without any ':' the scheme
//    is absent and the whole trimmed input is treated as what follows it;
//  - after the scheme's colon, any run of '/' and '\' (zero or more) is
//    skipped;
//  - the authority runs up to the first '/', '\', '?', '#' or ';' (or the
//    end); an empty authority leaves every other part absent;
//  - the last '@' of the authority ends the user information: user name up
//    to its first ':', password after that ':' (absent without a ':'); the
//    user name is present, possibly empty, whenever there is an '@';
//  - in the server part after the '@' (or the whole authority), the last ':'
//    that is not followed by a ']' separates host and port: the host is the
//    bytes before it (absent when the ':' is the first byte), the port the
//    bytes after it (present, possibly empty). Without such a ':' the whole
//    server part is the host and the port is absent. So "[::1]" is a host
//    without a port and "[::1]:8443" has the port "8443".
//
// Pure functions: no allocation, no state, safe from any thread.
#ifndef VORNETH_SECURITY_URL_SPLITTER_H_
#define VORNETH_SECURITY_URL_SPLITTER_H_

#include <cstddef>
#include <string_view>

namespace vorneth {

struct UrlComponent {
  std::ptrdiff_t begin = 0;
  std::ptrdiff_t len = -1;

  bool is_present() const { return len >= 0; }
  bool is_nonempty() const { return len > 0; }
  // The bytes of the component inside `spec` (the same input that was
  // split); empty for an absent component.
  std::string_view in(std::string_view spec) const {
    return is_present() ? spec.substr(static_cast<size_t>(begin), static_cast<size_t>(len)) : std::string_view();
  }
};

// The five parts of a standard URL that the origin is built from, all
// absent in a new value.
struct UrlParts {
  UrlComponent scheme;
  UrlComponent username;
  UrlComponent password;
  UrlComponent host;
  UrlComponent port;
};

// Splits `spec` (any bytes, NULs included, any length) by the rules above.
UrlParts SplitStandardUrl(std::string_view spec);

}  // namespace vorneth

#endif  // VORNETH_SECURITY_URL_SPLITTER_H_
