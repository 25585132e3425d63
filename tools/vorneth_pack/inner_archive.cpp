#include "inner_archive.h"

#include <json/value.h>

#include "addons/checksum_list.h"
#include "encodings.h"
#include "json/styled_writer.h"
#include "zip_writer.h"

namespace vorneth::pack {

Status ChecksumListText(const std::vector<AddOnFile>& files, const SigningKey& key, std::string& text) {
  Json::Value checksum(Json::arrayValue);
  for (const AddOnFile& file : files) {
    Json::Value entry(Json::objectValue);
    entry[file.m_name] = Sha1Hex(file.m_content);
    checksum.append(entry);
  }
  std::string signature;
  if (Status signed_ = key.Sign(CanonicalChecksumText(checksum), signature); !signed_.ok()) return signed_;
  Json::Value root(Json::objectValue);
  root[kChecksumMember] = checksum;
  root[kChecksumSignatureMember] = signature;
  text = StyledWriter().write(root);
  return Status::Ok();
}

Status InnerArchive(const AddOnFolder& folder, const SigningKey& key, std::string& bytes) {
  std::string checksumList;
  if (Status made = ChecksumListText(folder.m_files, key, checksumList); !made.ok()) return made;
  ZipWriter writer;
  for (const std::string& name : folder.m_folders) {
    if (Status added = writer.AddFolder(name); !added.ok()) return added;
  }
  for (const AddOnFile& file : folder.m_files) {
    if (Status added = writer.AddFile(file.m_name, file.m_content); !added.ok()) return added;
  }
  if (Status added = writer.AddFile(kChecksumListFile, std::move(checksumList)); !added.ok()) return added;
  return writer.Finish(bytes);
}

}  // namespace vorneth::pack
