// Where add-on packages come from and where they are unpacked.
//
// MakeHttpRequest is the download client's entry point (its logic is in
// http_client.h, over the system's HTTP services).
//
// Everything here is stateless and may be called from any thread.
#ifndef VORNETH_NET_REQUEST_MAKER_H_
#define VORNETH_NET_REQUEST_MAKER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vorneth {

// The largest package accepted, downloaded or read from a file; a larger
// one is refused without reading it further.
inline constexpr size_t kMaxPackageBytes = size_t{256} << 20;

// MakeHttpRequest's result when the exchange ran to its end (the status
// then says how it went); any other result is the error code of the step
// that failed.
inline constexpr int32_t kHttpExchangeDone = 0;

class RequestMaker {
 public:
  // The installation directory of one add-on version: the data directory,
  // "addons", the uuid and the version, each followed by the platform's
  // separator (so the result ends in one). None (traced) when the data
  // directory cannot be found or when uuid or version is not a safe folder
  // name (IsSafePathComponent): the path never leaves the "addons" folder.
  static std::optional<std::string> GetAddonPath(const std::string& uuid, const std::string& version);

  // True when `name` can stand as one folder name under the add-on folder:
  // not empty, not "." or "..", and free of path separators ("/", "\") and
  // control bytes (NUL included). Uuids and versions come from pages and
  // packages; anything else could point outside the add-on folder.
  static bool IsSafePathComponent(const std::string& name);

  // GET `path` from `server` (an origin text "scheme://host[:port]"). On a
  // 200 response `body` and `length` receive the body; `status` receives the
  // status of every response and keeps its value when none arrives. Returns
  // kHttpExchangeDone when the exchange ran to its end, whatever the status;
  // otherwise an error code. See http_client.h for the whole exchange.
  static int32_t MakeHttpRequest(const std::string& server, const std::string& path, std::string& body, size_t& length,
                                 int32_t& status);
};

}  // namespace vorneth

#endif  // VORNETH_NET_REQUEST_MAKER_H_
