// Names from packages that are appended to a folder path: entry names of an
// add-on's inner archive and file names of its checksum list.
//
// Such a name must stay below the folder it is appended to. It is refused
// when it is empty, starts with "/" or "\", starts with a drive ("C:"), has
// a ".." part between separators ("/" or "\"), or holds a control byte
// (below 0x20, or 0x7F). Stateless.
#ifndef VORNETH_ADDONS_RELATIVE_NAME_H_
#define VORNETH_ADDONS_RELATIVE_NAME_H_

#include <optional>
#include <string_view>

namespace vorneth {

// Why `name` must not be appended to a folder path, or none when it may.
std::optional<std::string_view> RelativeNameRefusal(std::string_view name);

inline bool IsContainedRelativeName(std::string_view name) {
  return !RelativeNameRefusal(name).has_value();
}

}  // namespace vorneth

#endif  // VORNETH_ADDONS_RELATIVE_NAME_H_
