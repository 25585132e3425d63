#include "addons/checksum_list.h"

#include <algorithm>

#include "json/styled_writer.h"

namespace vorneth {

std::string CanonicalChecksumText(const Json::Value& checksum) {
  std::string text = StyledWriter().write(checksum);
  std::erase_if(text, [](char byte) { return byte == ' ' || byte == '\n'; });
  return text;
}

}  // namespace vorneth
