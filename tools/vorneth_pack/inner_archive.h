// The inner archive "addon.zip" of a package: the add-on's folder with its
// signed checksum list "signature.json" at the top level.
//
// The checksum list names every file of the folder (not itself), each as
// one {"<name>": "<SHA-1 as 40 lower-case hex digits>"} object, in byte
// order of the names, and is signed over the canonical text the host
// computes (addons/checksum_list.h). The file is written with the host's
// StyledWriter. Stateless.
#ifndef VORNETH_TOOLS_VORNETH_PACK_INNER_ARCHIVE_H_
#define VORNETH_TOOLS_VORNETH_PACK_INNER_ARCHIVE_H_

#include <string>
#include <vector>

#include "addon_folder.h"
#include "platform/status.h"
#include "signing_key.h"

namespace vorneth::pack {

// The text of "signature.json" for `files`.
Status ChecksumListText(const std::vector<AddOnFile>& files, const SigningKey& key, std::string& text);

// The bytes of "addon.zip" for `folder`.
Status InnerArchive(const AddOnFolder& folder, const SigningKey& key, std::string& bytes);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_INNER_ARCHIVE_H_
