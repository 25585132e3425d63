// The per-user data directory and directory trees.
//
// All paths are UTF-8 strings. Components are joined with kPathSeparator,
// the one place that knows the platform's separator.
#ifndef VORNETH_PLATFORM_DATA_DIRECTORY_H_
#define VORNETH_PLATFORM_DATA_DIRECTORY_H_

#include <string>

namespace vorneth {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Name of the host's own folder inside the platform's per-user data folder.
inline constexpr const char kDataFolderName[] = "Vorneth";

// Finds the per-user data directory (the platform's per-user application
// data folder followed by "Vorneth"), creating it when it is missing.
// On success stores it without a trailing separator in `path` and returns
// true; on failure leaves `path` unchanged and returns false.
bool GetDataDirectory(std::string& path);

// Creates `path` and every missing parent. True when the directory exists
// afterwards.
bool CreateDirectoryTree(const std::string& path);

// Deletes `path` with everything inside it, for good. Symbolic links inside
// the tree are removed as links; what they point to is never touched.
// True on success.
bool DeleteDirectoryTree(const std::string& path);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_DATA_DIRECTORY_H_
