// Writes ZIP archives byte by byte, for tests that need archives no ZIP
// writer would make: any entry name (climbing "../x", absolute "/x" or
// "C:/x", backslashes, control bytes), symbolic-link and folder entries
// through their external attributes, size and checksum fields that lie,
// entries that share their bytes (the "zip bomb" layout), and very many
// entries.
//
// Usage:
//   ZipBuilder zip;
//   zip.Add(ZipEntry::Folder("sub/"));
//   zip.Add(ZipEntry::File("sub/a.txt", "hello", ZipMethod::kDeflated));
//   zip.AddAlias(1, 1000);  // 1000 more records reading a.txt's bytes
//   const std::string bytes = zip.Build();
//   ZipArchive::Open(AsBytes(bytes));
//
// Layout: local header and data of every entry, in order, then the central
// directory (the real entries in order, then the aliases), then the end
// record; with 65,535 records or more, Zip64 end records as well. No data
// descriptors, no encryption; timestamps are fixed, so the same calls give
// the same bytes. A plain value type; one object per thread.
#ifndef VORNETH_TESTS_SUPPORT_ZIP_BUILDER_H_
#define VORNETH_TESTS_SUPPORT_ZIP_BUILDER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorneth::testing {

enum class ZipMethod : uint16_t { kStored = 0, kDeflated = 8 };

// "Made by" systems of the central record: the meaning of the external
// attributes' high 16 bits (Unix mode) depends on it.
inline constexpr uint8_t kZipSystemDos = 0;
inline constexpr uint8_t kZipSystemUnix = 3;

// Unix modes, shifted into the external attributes by ZipEntry helpers.
inline constexpr uint32_t kUnixRegularFile = 0100644;
inline constexpr uint32_t kUnixFolder = 0040755;
inline constexpr uint32_t kUnixSymbolicLink = 0120777;
// The MS-DOS folder attribute (low byte of the external attributes).
inline constexpr uint32_t kDosFolderAttribute = 0x10;

struct ZipEntry {
  std::string m_name;  // written as given, NULs and all
  std::string m_content;
  ZipMethod m_method = ZipMethod::kStored;
  uint8_t m_system = kZipSystemUnix;
  uint32_t m_externalAttributes = kUnixRegularFile << 16;
  // When set, written instead of the true value in both the local header
  // and the central record: a size field or checksum that lies.
  std::optional<uint32_t> m_declaredSize;
  std::optional<uint32_t> m_declaredCompressedSize;
  std::optional<uint32_t> m_declaredCrc;

  // A regular file with Unix attributes.
  static ZipEntry File(std::string name, std::string content, ZipMethod method = ZipMethod::kStored);
  // A folder marked by its name (pass a name ending in "/") and Unix
  // attributes.
  static ZipEntry Folder(std::string name);
  // A folder marked only by the MS-DOS attribute 0x10: the name need not end
  // in "/".
  static ZipEntry DosFolder(std::string name);
  // A symbolic link with Unix attributes; its content is the link target.
  static ZipEntry SymbolicLink(std::string name, std::string target);
};

class ZipBuilder {
 public:
  // Appends an entry; returns its index among the real entries.
  size_t Add(ZipEntry entry);
  // Appends `count` central records that point at the local header of real
  // entry `index`, each a copy of that entry's record (same sizes, so the
  // archive stays consistent header by header). The entries overlap wholly:
  // reading them all reads that entry's data `count` more times. With an
  // empty `namePrefix` the copies keep the entry's name; otherwise copy i is
  // named `namePrefix` + i in the central directory only (its local header
  // is the entry's own).
  void AddAlias(size_t index, size_t count, const std::string& namePrefix = "");

  // The archive's bytes.
  std::string Build() const;

 private:
  struct Written {
    uint32_t m_offset = 0;
    uint32_t m_crc = 0;
    uint32_t m_size = 0;
    uint32_t m_compressedSize = 0;
  };
  static void PutSharedFields(std::string& out, const ZipEntry& entry, const Written& w, const std::string& name);
  std::vector<ZipEntry> m_entries;
  struct Alias {
    size_t m_index = 0;  // the real entry whose local header it points at
    std::string m_name;
  };
  std::vector<Alias> m_aliases;
};

// A block of bytes held in a string, in the form the archive reader takes.
inline std::span<const uint8_t> AsBytes(const std::string& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_ZIP_BUILDER_H_
