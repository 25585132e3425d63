// Filesystem paths from the host's UTF-8 path strings.
//
// Every path the host handles is a UTF-8 byte string. A
// std::filesystem::path built from a plain std::string reads the bytes in the
// platform's narrow code page, which on Windows is not UTF-8; building it
// from a u8string makes the library convert from UTF-8 on every platform.
// That conversion throws on malformed UTF-8 on some platforms, so the text is
// checked first and a malformed one is refused instead.
#ifndef VORNETH_PLATFORM_PATH_UTF8_H_
#define VORNETH_PLATFORM_PATH_UTF8_H_

#include <filesystem>
#include <string_view>

namespace vorneth {

// Stores the filesystem path named by the UTF-8 text `utf8` in `path` and
// returns true. Returns false, leaving `path` unchanged, when `utf8` is not
// strictly valid UTF-8 (see text_conversion.h). Never throws except for
// std::bad_alloc.
bool Utf8ToPath(std::string_view utf8, std::filesystem::path& path);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_PATH_UTF8_H_
