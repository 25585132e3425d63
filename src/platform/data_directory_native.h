// The per-platform halves of data_directory.h. Internal to the platform
// layer: data_directory.cpp checks the arguments, opens the trace scopes and
// calls these; they neither trace nor check again.
#ifndef VORNETH_PLATFORM_DATA_DIRECTORY_NATIVE_H_
#define VORNETH_PLATFORM_DATA_DIRECTORY_NATIVE_H_

#include <optional>
#include <string>

#include "platform/data_directory.h"

namespace vorneth::native {

// The platform's per-user data folder (UTF-8, no trailing separator; empty
// for the root folder itself), or nullopt when there is none.
std::optional<std::string> UserDataFolder(const EnvironmentLookup& environment);
// The form in which the created data directory `directory` is handed out
// (the short path form on Windows), or nullopt when it cannot be had.
std::optional<std::string> HandedOutForm(const std::string& directory);
// `path` is not empty.
bool CreateDirectories(const std::string& path);
bool DeleteTree(const std::string& path);
// `from` and `to` are not empty.
bool RenameFolder(const std::string& from, const std::string& to);

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_DATA_DIRECTORY_NATIVE_H_
