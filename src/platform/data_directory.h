// The per-user data directory and directory trees.
//
// All paths are UTF-8 strings. Components are joined with kPathSeparator,
// the one place that knows the platform's separator.
#ifndef VORNETH_PLATFORM_DATA_DIRECTORY_H_
#define VORNETH_PLATFORM_DATA_DIRECTORY_H_

#include <functional>
#include <optional>
#include <string>

namespace vorneth {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
// Every byte that separates components in a path the system is given.
inline constexpr char kPathSeparators[] = "/\\";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr char kPathSeparators[] = "/";
#endif

// Name of the host's own folder inside the platform's per-user data folder.
inline constexpr const char kDataFolderName[] = "Vorneth";

// Finds the per-user data directory (the platform's per-user application
// data folder followed by "Vorneth"), creating it when it is missing.
// On success stores it without a trailing separator in `path` and returns
// true; on failure (no data folder found, a name that is not UTF-8, the
// folder cannot be created) leaves `path` unchanged and returns false.
// Reads the process environment; thread-safe.
bool GetDataDirectory(std::string& path);

// The value of the environment variable `name`, or nullopt when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// GetDataDirectory with the environment variables it consults taken from
// `environment` instead of the process's (on POSIX XDG_DATA_HOME and HOME;
// Windows asks the shell for the known folder and reads none). Tests give
// each case its own environment this way.
bool GetDataDirectoryWith(const EnvironmentLookup& environment, std::string& path);

// Creates `path` and every missing parent. True when the directory exists
// afterwards.
bool CreateDirectoryTree(const std::string& path);

// Deletes `path` with everything inside it, for good. Symbolic links inside
// the tree are removed as links; what they point to is never touched.
// True on success.
bool DeleteDirectoryTree(const std::string& path);

// Gives the folder `from` the new path `to`, on the same volume, in one step:
// whoever looks sees the folder whole under one name or the other, never a
// part of it under `to`. `to` must not exist (Windows never replaces a
// folder; POSIX would replace an empty one): the caller removes it first.
// True on success; a failure (traced) leaves `from` where it was.
bool RenameDirectory(const std::string& from, const std::string& to);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_DATA_DIRECTORY_H_
