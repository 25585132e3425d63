// An add-on's folder as it goes into a package: every sub-folder and every
// regular file below the root, named relative to it with "/" separators.
//
// A symbolic link or a special file (FIFO, socket, device) anywhere below
// the root is refused: the package must hold what the author sees, not
// what a link happens to point to. The checksum list "signature.json" at
// the top level is left out, since the packer writes it anew. Stateless.
#ifndef VORNETH_TOOLS_VORNETH_PACK_ADDON_FOLDER_H_
#define VORNETH_TOOLS_VORNETH_PACK_ADDON_FOLDER_H_

#include <string>
#include <vector>

#include "platform/status.h"

namespace vorneth::pack {

struct AddOnFile {
  std::string m_name;
  std::string m_content;
};

struct AddOnFolder {
  // Folder names with a final "/", in ascending byte order.
  std::vector<std::string> m_folders;
  // In ascending byte order of their names.
  std::vector<AddOnFile> m_files;
};

// Fails, naming the offending path, when `root` is not a folder, something
// below it is a link or a special file, or a file cannot be read.
Status ReadAddOnFolder(const std::string& root, AddOnFolder& folder);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_ADDON_FOLDER_H_
