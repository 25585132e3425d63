// Result codes of the add-on operations (instance creation, installation,
// removal). They travel as plain integers only where they enter a JSON
// answer to the page.
#ifndef VORNETH_ADDONS_ADDON_RESULTS_H_
#define VORNETH_ADDONS_ADDON_RESULTS_H_

#include <cstdint>

namespace vorneth {

// Nothing more to do: an instance's creation was handed to its worker, a
// package is already installed, or an add-on to remove is not installed.
inline constexpr int32_t kResultNothingMore = 0;
// A package was installed, or an installed add-on was removed.
inline constexpr int32_t kResultCompleted = 200;
// A package's retrieval produced no status (it failed before a response,
// or its URL or descriptor was refused), or the package list was empty or
// not a list; or the disk could not take an add-on's files or the store its
// record (or the removal of its record).
inline constexpr int32_t kResultInstallFailed = -1;
// The installed files of an add-on fail their signature check; or a
// package's inner archive is missing, fails its signature, or breaks the
// unpacking limits.
inline constexpr int32_t kResultSignatureFailed = -4;
// A package's manifest is missing, not valid, or names uuid or version
// that are not safe folder names.
inline constexpr int32_t kResultManifestInvalid = -8;
// A "file" URL names an empty or missing file.
inline constexpr int32_t kResultPackageNotFound = 404;
// A package is larger than the largest accepted.
inline constexpr int32_t kResultPackageTooLarge = 413;
// The store does not record the add-on version as installed.
inline constexpr int32_t kResultNotInstalled = -5;
// The add-on library could not be loaded.
inline constexpr int32_t kResultLibraryLoadFailed = -6;
// The add-on library refused to create the instance (or cannot create
// one), or the instance's worker could not be started.
inline constexpr int32_t kResultCreateFailed = -7;

// The text every error answer starts with: ["Error"] or ["Error", code].
inline constexpr const char kErrorText[] = "Error";

// True for the results after which an installation goes on with the next
// package.
inline constexpr bool InstallSucceeded(int32_t result) {
  return result == kResultCompleted || result == kResultNothingMore;
}

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_RESULTS_H_
