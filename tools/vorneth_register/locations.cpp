// What both platforms share of locations.h: plain file work through the
// platform layer and the standard library.
#include "locations.h"

#include <filesystem>
#include <system_error>

#include "platform/file_reader_writer.h"
#include "platform/path_utf8.h"

namespace vorneth::reg {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string FolderOf(const std::string& path) {
  fs::path parsed;
  if (!Utf8ToPath(path, parsed)) return {};
  return Utf8(parsed.parent_path());
}

std::string Beside(const std::string& path, const std::string& name) {
  fs::path parsed;
  if (!Utf8ToPath(path, parsed)) return {};
  return Utf8(parsed.parent_path() / name);
}

Status WriteReadableFile(const std::string& path, const std::string& bytes) {
  fs::path parsed;
  if (!Utf8ToPath(path, parsed)) return Status::Failed("the path " + path + " is not UTF-8");
  std::error_code error;
  fs::create_directories(parsed.parent_path(), error);
  if (error) return Status::Failed("cannot create the folder " + Utf8(parsed.parent_path()) + ": " + error.message());
  const Status written = FileReaderWriter::WriteFileAtomically(path, bytes);
  if (!written.ok()) return Status::Failed("cannot write " + path + ": " + written.why());
  // The temporary file is made readable by its owner only; browsers run by
  // other users must read a system-wide manifest too.
  using fs::perms;
  fs::permissions(parsed, perms::owner_read | perms::owner_write | perms::group_read | perms::others_read,
                  fs::perm_options::replace, error);
  if (error) return Status::Failed("cannot make " + path + " readable: " + error.message());
  return Status::Ok();
}

Status RemoveFile(const std::string& path, bool& removed) {
  removed = false;
  fs::path parsed;
  if (!Utf8ToPath(path, parsed)) return Status::Failed("the path " + path + " is not UTF-8");
  std::error_code error;
  removed = fs::remove(parsed, error);
  if (error) return Status::Failed("cannot remove " + path + ": " + error.message());
  return Status::Ok();
}

}  // namespace vorneth::reg
