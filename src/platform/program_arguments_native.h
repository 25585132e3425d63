// The per-platform half of program_arguments.h. Internal to the platform
// layer.
#ifndef VORNETH_PLATFORM_PROGRAM_ARGUMENTS_NATIVE_H_
#define VORNETH_PLATFORM_PROGRAM_ARGUMENTS_NATIVE_H_

#include <optional>
#include <string>
#include <vector>

namespace vorneth::native {

// The arguments as the platform holds them in full (on Windows the wide
// command line, split and converted to UTF-8); nullopt where argv already is
// that form, or where they cannot be read or converted.
std::optional<std::vector<std::string>> FullArguments();

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_PROGRAM_ARGUMENTS_NATIVE_H_
