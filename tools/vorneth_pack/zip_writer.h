// Writes a ZIP archive into memory, the same bytes for the same entries.
//
// Entries are collected first and written by Finish in ascending byte order
// of their names, whatever the order they were added in: a folder entry
// ("sub/") thus comes before every entry inside it, which the host needs
// since it makes no parent folders for file entries. Every entry carries
// the same time stamp (1980-01-01 00:00, the earliest MS-DOS time) and
// fixed Unix attributes (folders 0755, files 0644); files are deflated.
// One object is used from one thread at a time.
#ifndef VORNETH_TOOLS_VORNETH_PACK_ZIP_WRITER_H_
#define VORNETH_TOOLS_VORNETH_PACK_ZIP_WRITER_H_

#include <map>
#include <string>

#include "platform/status.h"

namespace vorneth::pack {

class ZipWriter {
 public:
  // `name` ends in "/". Adding a name twice fails.
  Status AddFolder(const std::string& name);
  // `name` does not end in "/". Adding a name twice fails.
  Status AddFile(const std::string& name, std::string content);

  // The archive's bytes in `bytes`. Fails for an archive without entries.
  Status Finish(std::string& bytes) const;

 private:
  struct Entry {
    bool m_folder;
    std::string m_content;
  };
  Status Add(const std::string& name, Entry entry);

  // Sorted by name, byte by byte.
  std::map<std::string, Entry> m_entries;
};

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_ZIP_WRITER_H_
