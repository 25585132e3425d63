// A package, behind its signatures. Nobody can sign what a fuzzer makes, so
// a whole package would stop at the manifest's signature and an add-on
// folder at its checksum list's: the parts behind those doors are driven
// here directly, and the doors are only checked to stay shut.
//
// 1. The manifest check (IsManifestValid) on a fuzzed manifest text: an
//    unsigned manifest ("manifest_version" 1) is valid exactly when it names
//    the uuid and version asked for; any other manifest is never valid (a
//    fuzzed signature never verifies).
// 2. The checksum list: CanonicalChecksumText of a fuzzed "checksum" value
//    holds no space and no line feed, and every file name in it that the
//    list's check would take (RelativeNameRefusal) stays inside the folder
//    it is appended to.
// 3. The unpacking of an inner archive (UnpackAddOnArchive) into a scratch
//    add-on folder two levels down a scratch tree on /dev/shm. The archive
//    is built from the input with the tests' ZIP writer (entry names put
//    together from "..", absolute and drive prefixes, backslashes, control
//    bytes, over-long names; folders by name or by attribute, symbolic links,
//    duplicate names, stored and deflated data, lying size and checksum
//    fields, records that share their bytes), then possibly one byte of it
//    overwritten; or it is the rest of the input as raw bytes. After each
//    input: the sentinel files beside the add-on folder and beside its
//    parent are as they were, both listings are unchanged, no symbolic link
//    exists anywhere in the tree, the outcome matches the folder (refused:
//    folder gone; not an archive: folder still empty), and the add-on
//    folder's own signature check fails. The tree's add-on folder is then
//    emptied for the next input.
// A difference prints what was seen and aborts, which libFuzzer reports as
// a crash with the input saved.
//
// Input layout (the seeds in fuzz/corpus/package/ are written in it): one
// byte of flags, then texts, each a u16 little-endian length and its bytes
// (the manifest text, the uuid, the version, the checksum list text), then
// the archive: raw bytes when flag 0x01 is set; otherwise one byte with the
// entry count, each entry a kind byte, a name (a byte count of pieces, each
// one byte: a piece of a fixed list or, from 0x80 on, a raw byte), and a
// content text; then a position and a byte to overwrite when flag 0x02 is set.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "addons/addon_unpacker.h"
#include "addons/checksum_list.h"
#include "addons/package_verifier.h"
#include "addons/relative_name.h"
#include "json/json_conversions.h"
#include "shm_scratch.h"
#include "support/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using vorneth::testing::ZipBuilder;
using vorneth::testing::ZipEntry;
using vorneth::testing::ZipMethod;

constexpr uint8_t kRawArchive = 0x01;
constexpr uint8_t kOverwriteByte = 0x02;
constexpr uint8_t kAskManifestNames = 0x04;
constexpr size_t kMaxEntries = 12;
// Small limits keep every input fast; the refusals they cause are part of
// what is fuzzed.
constexpr vorneth::UnpackLimits kLimits{64, 1 << 12};

constexpr std::array<std::string_view, 24> kNamePieces = {
    "a",     "b",   "..",   ".",   "/",   "\\",   "C:",   "sub/",         "/etc/", "\x01", "signature.json",
    "x.txt", "../", "..\\", "a/b", "a\\", "\x7F", "link", "/dev/shm/out", "~",     " ",    ":",
    "sub",   "//"};

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string()) {
  vorneth::fuzz::ShmScratch::Fail((std::string("fuzz_package: ") + what).c_str(), detail);
}

// The fuzz input, read front to back; reads past its end give nothing.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  std::string Bytes(size_t count) {
    count = std::min(count, m_size - m_at);
    std::string text(reinterpret_cast<const char*>(m_data + m_at), count);
    m_at += count;
    return text;
  }
  std::string Text() { return Bytes(static_cast<size_t>(Byte() | (Byte() << 8))); }
  std::string Rest() { return Bytes(m_size - m_at); }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

// The scratch tree on /dev/shm (shm_scratch.h): <root>/sentinel,
// <root>/parent/sentinel and the add-on folder <root>/parent/addon.
class Tree {
 public:
  Tree() {
    m_root = vorneth::fuzz::ShmScratch::Path("fuzz_package");
    fs::create_directory(parent());
    std::ofstream(m_root / "sentinel") << "root sentinel";
    std::ofstream(parent() / "sentinel") << "parent sentinel";
    m_rootSentinel = IdentityOf(m_root / "sentinel");
    m_parentSentinel = IdentityOf(parent() / "sentinel");
    m_rootNames = Names(m_root);
    fs::create_directory(addon());
    m_parentNames = Names(parent());
  }

  fs::path parent() const { return m_root / "parent"; }
  fs::path addon() const { return parent() / "addon"; }

  // The checks after an unpacking, then the add-on folder made empty again.
  void CheckAndReset(vorneth::UnpackResult result) const {
    if (IdentityOf(m_root / "sentinel") != m_rootSentinel) Fail("the root's sentinel changed");
    if (IdentityOf(parent() / "sentinel") != m_parentSentinel) Fail("the parent's sentinel changed");
    // The one absolute name of the pieces that points somewhere writable.
    struct stat status {};
    if (lstat("/dev/shm/out", &status) == 0) Fail("an absolute name was written: /dev/shm/out");

    // One walk of the whole tree: the root's listing (depth 0), the
    // parent's (depth 1, the root's only folder while its listing holds),
    // what the add-on folder holds (deeper), and no link anywhere.
    std::vector<std::string> rootNames;
    std::vector<std::string> parentNames;
    size_t inAddon = 0;
    for (auto entry = fs::recursive_directory_iterator(m_root); entry != fs::recursive_directory_iterator(); ++entry) {
      if (entry->is_symlink()) Fail("a symbolic link was made:", entry->path().string());
      const int depth = entry.depth();
      if (depth == 0) rootNames.push_back(entry->path().filename().string());
      if (depth == 1) parentNames.push_back(entry->path().filename().string());
      if (depth > 1) ++inAddon;
    }
    std::sort(rootNames.begin(), rootNames.end());
    std::sort(parentNames.begin(), parentNames.end());
    if (rootNames != m_rootNames) Fail("the root's listing changed");
    const bool addonThere = fs::is_directory(fs::symlink_status(addon()));
    if (result == vorneth::UnpackResult::kRefused) {
      if (addonThere) Fail("a refused archive left its folder");
      parentNames.push_back("addon");
      std::sort(parentNames.begin(), parentNames.end());
    } else if (!addonThere) {
      Fail("the add-on folder went without a refusal");
    }
    if (parentNames != m_parentNames) Fail("the parent's listing changed");
    if (result == vorneth::UnpackResult::kNotAnArchive) {
      if (inAddon != 0) Fail("no archive, yet something was written");
      return;  // still there and empty
    }
    if (addonThere && vorneth::CheckAddOnSignature(addon().string() + "/")) Fail("an unsigned add-on folder passed");
    std::error_code error;
    fs::remove_all(addon(), error);
    if (!fs::create_directory(addon(), error)) Fail("cannot make the add-on folder again");
  }

 private:
  // A sentinel file as the file system sees it without opening it: a file
  // written, replaced, linked to (link count) or turned into a link differs.
  using Identity = std::array<int64_t, 6>;
  static Identity IdentityOf(const fs::path& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return Identity{};
    return {static_cast<int64_t>(status.st_ino),
            static_cast<int64_t>(status.st_mode),
            static_cast<int64_t>(status.st_nlink),
            static_cast<int64_t>(status.st_size),
            status.st_mtim.tv_sec,
            status.st_mtim.tv_nsec};
  }
  static std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path m_root;
  std::vector<std::string> m_rootNames;
  std::vector<std::string> m_parentNames;
  Identity m_rootSentinel{};
  Identity m_parentSentinel{};
};

const Tree& ScratchTree() {
  static const Tree tree;
  return tree;
}

void CheckManifest(const std::string& text, const std::string& uuid, const std::string& version) {
  Json::Value manifest;
  (void)vorneth::ParseJson(text, manifest);
  const bool valid = vorneth::IsManifestValid(text, manifest, uuid, version);
  int32_t manifestVersion = 0;
  const bool unsignedVersion = vorneth::ReadInt(vorneth::Member(manifest, "manifest_version"), manifestVersion) &&
                               manifestVersion == vorneth::kUnsignedManifestVersion;
  if (valid && !unsignedVersion) Fail("a fuzzed manifest signature verified:", text);
  if (!unsignedVersion) return;
  // Named as the manifest's members read as texts (ReadText: an absent
  // member or null reads as "", a boolean as "true" or "false").
  std::string named[2];
  const bool names = vorneth::ReadText(vorneth::Member(manifest, "uuid"), named[0]) && named[0] == uuid &&
                     vorneth::ReadText(vorneth::Member(manifest, "version"), named[1]) && named[1] == version;
  if (valid != names) Fail(valid ? "valid though it names another add-on:" : "refused though it names it:", text);
}

// A name the checks take stays below the folder it is appended to.
void CheckContained(const std::string& name) {
  if (!vorneth::IsContainedRelativeName(name)) return;
  for (const std::string& form : {name, [&] {
                                    std::string slashed = name;
                                    std::replace(slashed.begin(), slashed.end(), '\\', '/');
                                    return slashed;
                                  }()}) {
    const fs::path joined = (fs::path("/base/folder") / form).lexically_normal();
    const std::string text = joined.string();
    if (!text.starts_with("/base/folder/") && text != "/base/folder") Fail("a taken name leaves its folder:", name);
  }
}

void CheckChecksumList(const std::string& text) {
  Json::Value checksum;
  (void)vorneth::ParseJsonUpToDamage(text, checksum);
  const std::string canonical = vorneth::CanonicalChecksumText(checksum);
  if (canonical.find_first_of(" \n") != std::string::npos) Fail("a canonical checksum text holds a blank");
  if (!checksum.isArray()) return;
  for (const Json::Value& entry : checksum) {
    if (!entry.isObject() || entry.empty()) continue;
    CheckContained(entry.begin().name());
  }
}

std::string EntryName(Input& input) {
  std::string name;
  const uint8_t pieces = input.Byte() % 16;
  for (uint8_t i = 0; i < pieces; ++i) {
    const uint8_t piece = input.Byte();
    if (piece == 0x7F) {
      name += std::string(vorneth::kMaxEntryNameBytes - 2, 'n');  // cut at the limit
    } else if (piece & 0x80) {
      name += static_cast<char>(piece & 0x7F);
    } else {
      name += kNamePieces[piece % kNamePieces.size()];
    }
  }
  return name;
}

// The structured archive: entries of every kind the writer makes.
std::string BuildArchive(Input& input) {
  ZipBuilder zip;
  const size_t count = input.Byte() % (kMaxEntries + 1);
  size_t real = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t kind = input.Byte();
    std::string name = EntryName(input);
    CheckContained(name);
    std::string content = input.Text();
    ZipEntry entry;
    switch (kind % 8) {
      case 0:
        entry = ZipEntry::File(std::move(name), std::move(content));
        break;
      case 1:
        entry = ZipEntry::File(std::move(name), std::move(content), ZipMethod::kDeflated);
        break;
      case 2:
        entry = ZipEntry::Folder(std::move(name));
        break;
      case 3:
        entry = ZipEntry::DosFolder(std::move(name));
        break;
      case 4:
        entry = ZipEntry::SymbolicLink(std::move(name), std::move(content));
        break;
      case 5:
        // Records sharing the previous entry's bytes, under this name.
        if (real > 0) {
          zip.AddAlias(real - 1, 1 + kind / 64, name);
          continue;
        }
        entry = ZipEntry::File(std::move(name), std::move(content));
        break;
      default:
        // Size and checksum fields that lie.
        entry = ZipEntry::File(std::move(name), std::move(content),
                               kind & 0x10 ? ZipMethod::kDeflated : ZipMethod::kStored);
        if (kind & 0x20) entry.m_declaredSize = input.Byte();
        if (kind & 0x40) entry.m_declaredCompressedSize = input.Byte();
        if (kind & 0x80) entry.m_declaredCrc = input.Byte();
        break;
    }
    zip.Add(std::move(entry));
    ++real;
  }
  return zip.Build();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Tree& tree = ScratchTree();
  Input input(data, size);
  const uint8_t flags = input.Byte();
  const std::string manifest = input.Text();
  std::string uuid = input.Text();
  std::string version = input.Text();
  if (flags & kAskManifestNames) {
    // Ask for what the manifest names, so the accepting path is reached.
    Json::Value parsed;
    (void)vorneth::ParseJson(manifest, parsed);
    (void)vorneth::ReadText(vorneth::Member(parsed, "uuid"), uuid);
    (void)vorneth::ReadText(vorneth::Member(parsed, "version"), version);
  }
  CheckManifest(manifest, uuid, version);
  CheckChecksumList(input.Text());

  std::string archive;
  if (flags & kRawArchive) {
    archive = input.Rest();
  } else {
    archive = BuildArchive(input);
    if (flags & kOverwriteByte) {
      const size_t at = static_cast<size_t>(input.Byte() | (input.Byte() << 8));
      const uint8_t byte = input.Byte();
      if (!archive.empty()) archive[at % archive.size()] = static_cast<char>(byte);
    }
  }
  const vorneth::UnpackResult result =
      vorneth::UnpackAddOnArchive(vorneth::testing::AsBytes(archive), tree.addon().string(), kLimits);
  tree.CheckAndReset(result);
  return 0;
}
