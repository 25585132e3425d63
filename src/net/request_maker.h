// Where add-on packages come from and where they are unpacked.
#ifndef VORNETH_NET_REQUEST_MAKER_H_
#define VORNETH_NET_REQUEST_MAKER_H_

#include <string>

namespace vorneth {

class RequestMaker {
 public:
  // The installation directory of one add-on version: the data directory,
  // "addons", the uuid and the version, each followed by the platform's
  // separator (so the result ends in one). When the data directory cannot be
  // found the path starts empty.
  static std::string GetAddonPath(const std::string& uuid, const std::string& version);

  // True when `name` can stand as one folder name under the add-on folder:
  // not empty, not "." or "..", and free of path separators and NUL bytes.
  // Uuids and versions come from pages and packages; anything else could
  // point outside the add-on folder.
  static bool IsSafePathComponent(const std::string& name);
};

}  // namespace vorneth

#endif  // VORNETH_NET_REQUEST_MAKER_H_
