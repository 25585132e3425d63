// The platform-dependent names of add-on packages and installed add-ons.
//
// A package descriptor's "packageURL" object holds one location per
// platform; a host reads only its own platform's member, so it never fetches
// a package built for another platform. An installed add-on's library file
// carries the platform's library suffix.
//
// A "file" URL is "file://" followed by the path: on POSIX systems the path
// keeps the slash that starts it ("file:///opt/pkgs/a.pkg" names
// "/opt/pkgs/a.pkg"); on Windows the third slash only separates the drive
// ("file:///C:/a.pkg" names "C:/a.pkg"). URLs shorter than
// kFileUrlMinimumLength name no file.
//
// Constants only: usable from any thread.
#ifndef VORNETH_PLATFORM_ADDON_PLATFORM_H_
#define VORNETH_PLATFORM_ADDON_PLATFORM_H_

#include <cstddef>

namespace vorneth {

#ifdef _WIN32
inline constexpr const char kAddOnLibraryFile[] = "addon.dll";
inline constexpr const char kPackageUrlMember[] = "win";
inline constexpr size_t kFileUrlPathStart = 8;
#else
inline constexpr const char kAddOnLibraryFile[] = "addon.so";
inline constexpr const char kPackageUrlMember[] = "linux";
inline constexpr size_t kFileUrlPathStart = 7;
#endif

// "file:///": the scheme, its colon and three slashes.
inline constexpr size_t kFileUrlMinimumLength = 8;

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_ADDON_PLATFORM_H_
