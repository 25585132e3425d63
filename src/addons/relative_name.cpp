#include "addons/relative_name.h"

#include <algorithm>

namespace vorneth {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

bool IsControlByte(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value < kFirstPrintable || value == kDelete;
}

bool IsAsciiLetter(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

bool HasParentPart(std::string_view name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::optional<std::string_view> RelativeNameRefusal(std::string_view name) {
  if (name.empty()) return "empty name";
  if (name.front() == '/' || name.front() == '\\') return "absolute name";
  if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') return "name with a drive";
  if (std::any_of(name.begin(), name.end(), IsControlByte)) return "name with a control byte";
  if (HasParentPart(name)) return "name with a \"..\" part";
  return std::nullopt;
}

}  // namespace vorneth
