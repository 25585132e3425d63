// Read access to a ZIP archive held in memory: the one place that calls the
// ZIP library, so the choice of library can change here alone.
//
// An archive is opened over a block of bytes that the caller keeps alive
// and unchanged for the life of the object. Entries are addressed by index,
// 0 to EntryCount() - 1, in the order of the archive's central directory.
// One object is used from one thread at a time; separate objects share
// nothing.
//
// What the ZIP library does with hostile archives, and what this class adds:
// - Overlapping entries (many central-directory records pointing into the
//   same local header and data, or one entry's data running on into the
//   next entry's header: the "zip bomb" layouts that turn kilobytes into
//   gigabytes): opened plainly, the library accepts them and extracts every
//   entry as if it had its bytes to itself. Its stricter consistency check
//   (ZIP_CHECKCONS) refuses only records that repeat a name or disagree
//   with their local header, never data running into a following header,
//   and its refusal looks like "not an archive". So this class opens without
//   it, walks the central directory itself (zip_layout.h) and reports
//   through EntriesApart() whether any two entries share a byte; an unpacker
//   refuses the archive when they do.
// - Size fields that lie: the library reads a stored entry's compressed
//   size of bytes and fails at the end when the uncompressed size differs;
//   for a deflated entry it hands out whatever the data inflates to, more or
//   less than the size field says, and checks only the CRC. Reads here count
//   the bytes as they come out and fail as soon as they pass the size field,
//   or at the end when they fall short of it; a read limit is counted the
//   same way, so a size field never decides how much is read or kept.
//   A wrong CRC fails the read at its end.
#ifndef VORNETH_ADDONS_ZIP_ARCHIVE_H_
#define VORNETH_ADDONS_ZIP_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vorneth {

class ZipArchive {
 public:
  // None when `bytes` is not an archive the library can read, or when the
  // library cannot be reached (traced). Which library a program reaches,
  // and how, is zip_library.h's business.
  static std::unique_ptr<ZipArchive> Open(std::span<const uint8_t> bytes);
  // False (traced) when the library cannot be reached, so that a caller can
  // tell a fault of the host's from a package that is no archive.
  static bool Reachable();
  virtual ~ZipArchive() = default;

  virtual uint64_t EntryCount() const = 0;
  // The entry's name as stored (raw bytes, "/" separators, NULs kept).
  virtual std::string EntryName(uint64_t index) const = 0;
  // Marked as a folder: the name ends in "/", or its external attributes
  // carry the MS-DOS folder bit 0x10.
  virtual bool IsDirectory(uint64_t index) const = 0;
  // Marked as a symbolic link by Unix external attributes.
  virtual bool IsSymbolicLink(uint64_t index) const = 0;

  // True when every entry's local header and data stand apart from every
  // other entry's and lie inside the archive. False when two entries share
  // bytes, and also when the central directory cannot be walked the way the
  // library walked it (the layout cannot be vouched for).
  virtual bool EntriesApart() const = 0;

  // The index of the entry named `name`, compared without regard to ASCII
  // letter case; none when there is no such entry.
  virtual std::optional<uint64_t> Find(std::string_view name) const = 0;

  // The entry's whole content, or none when it cannot be read (a damaged
  // entry, a failed checksum) or holds more than `limit` bytes; the limit
  // is counted on the bytes as they come out, not taken from the archive's
  // own size fields.
  std::optional<std::string> Read(uint64_t index, size_t limit) const;
  // The entry's content handed to `sink` in pieces, as it is decompressed.
  // Stops at the first failure of the sink, of the library or of the
  // content's checksum, and returns it.
  using ChunkSink = std::function<Status(std::span<const uint8_t> chunk)>;
  virtual Status ReadChunks(uint64_t index, const ChunkSink& sink) const = 0;

 protected:
  ZipArchive() = default;
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
};

// The ZIP module of the Linux host (zip_library.h) exports one C entry point,
// kZipModuleEntryPoint of type ZipModuleEntry: given kZipModuleVersion it
// returns its opener, given any other version null.
using ZipOpener = std::unique_ptr<ZipArchive> (*)(std::span<const uint8_t> bytes);
using ZipModuleEntry = ZipOpener (*)(uint32_t version);
inline constexpr char kZipModuleFileName[] = "vorneth-zip.so";
inline constexpr char kZipModuleEntryPoint[] = "VornethZipOpener";
inline constexpr uint32_t kZipModuleVersion = 1;

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ZIP_ARCHIVE_H_
