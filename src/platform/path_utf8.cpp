#include "platform/path_utf8.h"

#include <string>

#include "platform/text_conversion.h"

namespace vorneth {

bool Utf8ToPath(std::string_view utf8, std::filesystem::path& path) {
  std::u16string wide;
  if (!Utf8ToWide(utf8, wide)) return false;
  path = std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  return true;
}

}  // namespace vorneth
