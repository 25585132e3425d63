#include "platform/path_utf8.h"

#include <string>

#include "platform/text_conversion.h"

namespace vorneth {

bool Utf8ToPath(std::string_view utf8, std::filesystem::path& path) {
  if (!IsStrictUtf8(utf8)) return false;
  path = std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  return true;
}

}  // namespace vorneth
