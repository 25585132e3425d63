#include "addons/zip_archive.h"

namespace vorneth {

std::optional<std::string> ZipArchive::Read(uint64_t index, size_t limit) const {
  std::string content;
  const Status status = ReadChunks(index, [&](std::span<const uint8_t> chunk) {
    if (chunk.size() > limit - content.size()) return Status::Failed("the entry holds more than the limit");
    content.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return Status::Ok();
  });
  if (!status.ok()) return std::nullopt;
  return content;
}
}  // namespace vorneth
