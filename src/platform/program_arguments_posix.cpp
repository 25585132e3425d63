#include "platform/program_arguments_native.h"

namespace vorneth::native {

// argv holds the bytes as given: there is nothing fuller to read.
std::optional<std::vector<std::string>> FullArguments() {
  return std::nullopt;
}

}  // namespace vorneth::native
