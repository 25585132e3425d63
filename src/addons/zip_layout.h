// The layout of a ZIP archive's entries, read straight from its bytes: the
// central directory's records and the byte range each entry's local header
// and data take up. ZipArchive uses it to refuse archives whose entries
// share bytes (see zip_archive.h: the ZIP library itself does not check
// this), and to give each entry's name with every byte it really holds.
//
// Pure functions over a block of bytes that the caller keeps alive; nothing
// here allocates beyond the returned records. Every field is read with a
// bounds check: a damaged archive gives none, never a read past the block.
#ifndef VORNETH_ADDONS_ZIP_LAYOUT_H_
#define VORNETH_ADDONS_ZIP_LAYOUT_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorneth {

// One record of the central directory, with the 64-bit fields already taken
// from the Zip64 extra field where the 32-bit ones say so.
struct ZipCentralRecord {
  std::string name;  // raw bytes as stored, NULs included
  uint64_t compressedSize = 0;
  uint64_t localHeaderOffset = 0;
};

// The central directory found through the end record that lies closest to
// the end of `bytes` and describes a directory that parses whole; none when
// no such end record exists.
std::optional<std::vector<ZipCentralRecord>> ReadCentralDirectory(std::span<const uint8_t> bytes);

// True when every record's local header and data lie inside `bytes` and no
// two of them share a byte. False for a local header that is missing or cut
// short, data that runs past the block, and any overlap: many records
// pointing at one local header, or one record's range starting inside
// another's.
bool LocalRangesApart(std::span<const uint8_t> bytes, const std::vector<ZipCentralRecord>& records);

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ZIP_LAYOUT_H_
