// The per-platform halves of file_writer.h. Internal to the platform layer:
// file_writer.cpp checks and splits the names, opens the trace scopes and
// traces the failures; these do the system calls and neither trace nor
// check the names again. `components` is never empty and holds only checked
// components.
#ifndef VORNETH_PLATFORM_FILE_WRITER_NATIVE_H_
#define VORNETH_PLATFORM_FILE_WRITER_NATIVE_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vorneth::native {

inline constexpr intptr_t kNoHandle = -1;

// Creates the file named by the last component in the folder reached
// through the others (none created, none followed when a link), replacing
// a non-folder entry of that name; on success sets `handle`.
Status CreateFileBelow(const std::string& base, const std::vector<std::string>& components, intptr_t& handle);
Status WriteToFile(intptr_t handle, std::span<const uint8_t> bytes);
Status CloseFile(intptr_t handle);
// Creates every missing component as a folder, following none.
Status CreateFoldersBelow(const std::string& base, const std::vector<std::string>& components);

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_FILE_WRITER_NATIVE_H_
