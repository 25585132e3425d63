// Unpacking an add-on's inner archive, held in memory, into its add-on
// folder.
//
// Entries are taken by index, first to last. A name longer than
// kMaxEntryNameBytes is cut to that length. A folder entry (its name ends in
// "/", or its external attributes carry the folder bit 0x10) is created with
// every missing folder on the way; any other entry is written to a file of
// that name inside the folder, replacing an entry of that name that is not a
// folder. Folders are not made for file entries: an archive lists a folder
// before the files inside it, and the files of a folder it does not list are
// left out. An entry that cannot be created there (a folder of its path
// missing, a folder standing at its name, a name the platform refuses) is
// missing afterwards (traced); the rest go on. An entry whose bytes cannot be
// written once its file exists (the disk is full, the device fails) ends the
// unpacking: nothing more is written and the folder is removed with
// everything in it.
//
// Never written, each traced, the rest going on: an entry whose name is
// absolute ("/x", "\x", "C:x"), has a ".." part (split on "/" and "\"),
// holds a NUL or another control byte, or that is a symbolic link. Nothing is
// ever written outside the folder: no link inside it is followed, neither a
// link at a file's own name (it is replaced as an entry) nor one on the way.
//
// An archive that breaks a limit (UnpackLimits) or whose entries share bytes
// is refused: nothing more is written and the folder is removed with
// everything in it. The unpacked total is counted on the bytes as they come
// out of the archive, never taken from its size fields.
//
// Stateless; may run on any thread. Two unpackings into one folder at once
// are kept apart by the caller.
#ifndef VORNETH_ADDONS_ADDON_UNPACKER_H_
#define VORNETH_ADDONS_ADDON_UNPACKER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vorneth {

// Longer entry names are cut to this many bytes.
inline constexpr size_t kMaxEntryNameBytes = 259;
// More entries than this refuse the archive.
inline constexpr uint64_t kMaxArchiveEntries = 65535;
// More bytes unpacked in total than this refuse the archive.
inline constexpr uint64_t kMaxUnpackedBytes = uint64_t{1} << 30;

// The limits an unpacking keeps to; the defaults are the production ones,
// tests pass smaller ones.
struct UnpackLimits {
  uint64_t m_maxEntries = kMaxArchiveEntries;
  uint64_t m_maxUnpackedBytes = kMaxUnpackedBytes;
};

enum class UnpackResult {
  // Every entry was gone through; refused or unwritable ones are missing.
  kUnpacked,
  // The bytes are no archive the reader can open: nothing was written, the
  // folder stays as it was.
  kNotAnArchive,
  // Too many entries, entries that share bytes, or too much content: the
  // folder was removed. An installation ends with kResultSignatureFailed
  // (-4, addon_results.h).
  kRefused,
  // A file's bytes could not be written or closed: the folder was removed.
  // An installation then fails with kResultInstallFailed (-1).
  kWriteFailed,
};

// Unpacks the archive `archive` into the existing folder `folder` (a UTF-8
// path, with or without a trailing separator).
UnpackResult UnpackAddOnArchive(std::span<const uint8_t> archive, const std::string& folder,
                                const UnpackLimits& limits = {});

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_UNPACKER_H_
