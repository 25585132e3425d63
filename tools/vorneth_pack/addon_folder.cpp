#include "addon_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "addons/checksum_list.h"
#include "files.h"

namespace vorneth::pack {
namespace {

namespace fs = std::filesystem;

std::string FilesystemFailure(const std::string& what, const std::error_code& error) {
  return what + ": " + error.message();
}

// Files the entry at `path` (named `name`) into `folder`, or says why not.
Status AddEntry(const fs::path& path, const std::string& name, fs::file_type type, AddOnFolder& folder) {
  switch (type) {
    case fs::file_type::directory:
      if (name == kChecksumListFile) return Status::Failed(path.string() + ": a folder named like the checksum list");
      folder.m_folders.push_back(name + "/");
      return Status::Ok();
    case fs::file_type::regular: {
      if (name == kChecksumListFile) return Status::Ok();
      AddOnFile file{name, {}};
      if (Status read = ReadWholeFile(path.string(), "add-on file", file.m_content); !read.ok()) return read;
      folder.m_files.push_back(std::move(file));
      return Status::Ok();
    }
    case fs::file_type::symlink:
      return Status::Failed(path.string() + ": a symbolic link; packages hold regular files and folders only");
    default:
      return Status::Failed(path.string() + ": a special file; packages hold regular files and folders only");
  }
}

}  // namespace

Status ReadAddOnFolder(const std::string& root, AddOnFolder& folder) {
  folder = AddOnFolder();
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    if (error) return Status::Failed(FilesystemFailure("add-on folder " + root, error));
    return Status::Failed("add-on folder " + root + ": not a folder");
  }
  const fs::path base(root);
  fs::recursive_directory_iterator entry(base, fs::directory_options::none, error);
  for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    const fs::file_status status = entry->symlink_status(error);
    if (error) break;
    const std::string name = entry->path().lexically_relative(base).generic_string();
    if (Status added = AddEntry(entry->path(), name, status.type(), folder); !added.ok()) return added;
  }
  if (error) return Status::Failed(FilesystemFailure("add-on folder " + root, error));
  std::sort(folder.m_folders.begin(), folder.m_folders.end());
  std::sort(folder.m_files.begin(), folder.m_files.end(),
            [](const AddOnFile& left, const AddOnFile& right) { return left.m_name < right.m_name; });
  return Status::Ok();
}

}  // namespace vorneth::pack
