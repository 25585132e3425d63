// The archive reader over hand-written archives: lookup, entry kinds,
// reading with limits and in pieces, damaged and lying entries, and the
// overlap check.
#include "addons/zip_archive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/zip_builder.h"

namespace vorneth::testing {
namespace {

std::unique_ptr<ZipArchive> OpenBuilt(const ZipBuilder& builder, std::string& bytes) {
  bytes = builder.Build();
  return ZipArchive::Open(AsBytes(bytes));
}

// 300 KiB that deflate squeezes but that is not one repeated byte.
std::string Patterned(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  return text;
}

TEST(ZipArchiveTest, FindsEntriesWithoutRegardToCase) {
  ZipBuilder builder;
  builder.Add(ZipEntry::File("Manifest.JSON", "{}"));
  builder.Add(ZipEntry::File("addon.zip", "inner"));
  std::string bytes;
  const auto zip = OpenBuilt(builder, bytes);
  ASSERT_NE(zip, nullptr);
  EXPECT_EQ(zip->Find("manifest.json"), 0u);
  EXPECT_EQ(zip->Find("ADDON.ZIP"), 1u);
  EXPECT_EQ(zip->Find("icon.png"), std::nullopt);
  EXPECT_EQ(zip->Find("addon"), std::nullopt) << "a prefix is not a match";
  EXPECT_EQ(zip->Find(std::string("addon.zip\0x", 11)), std::nullopt) << "a NUL does not end the name";
}

TEST(ZipArchiveTest, TellsFoldersLinksAndFilesApart) {
  ZipBuilder builder;
  builder.Add(ZipEntry::Folder("sub/"));
  builder.Add(ZipEntry::DosFolder("dosfolder"));
  builder.Add(ZipEntry::SymbolicLink("link", "/etc/passwd"));
  builder.Add(ZipEntry::File("sub/file", "x"));
  ZipEntry dosFile = ZipEntry::File("dosfile", "y");
  // A DOS entry whose high bits happen to look like a Unix link is no link.
  dosFile.m_system = kZipSystemDos;
  dosFile.m_externalAttributes = kUnixSymbolicLink << 16;
  builder.Add(dosFile);
  builder.Add(ZipEntry::File(std::string("nul\0name", 8), "z"));
  std::string bytes;
  const auto zip = OpenBuilt(builder, bytes);
  ASSERT_NE(zip, nullptr);
  ASSERT_EQ(zip->EntryCount(), 6u);
  const std::vector<bool> folders = {true, true, false, false, false, false};
  const std::vector<bool> links = {false, false, true, false, false, false};
  for (uint64_t i = 0; i < zip->EntryCount(); ++i) {
    EXPECT_EQ(zip->IsDirectory(i), folders[i]) << i;
    EXPECT_EQ(zip->IsSymbolicLink(i), links[i]) << i;
  }
  EXPECT_EQ(zip->EntryName(3), "sub/file");
  EXPECT_EQ(zip->EntryName(5), std::string("nul\0name", 8)) << "names keep every stored byte";
}

TEST(ZipArchiveTest, ReadsStoredAndDeflatedEntriesUpToTheLimit) {
  const std::string content = Patterned(300 * 1024);
  ZipBuilder builder;
  builder.Add(ZipEntry::File("stored", content));
  builder.Add(ZipEntry::File("deflated", content, ZipMethod::kDeflated));
  builder.Add(ZipEntry::File("empty", ""));
  std::string bytes;
  const auto zip = OpenBuilt(builder, bytes);
  ASSERT_NE(zip, nullptr);
  EXPECT_LT(bytes.size(), content.size() * 2) << "the deflated copy is smaller";
  for (uint64_t i : {0u, 1u}) {
    EXPECT_EQ(zip->Read(i, content.size()), content) << i;
    EXPECT_EQ(zip->Read(i, content.size() - 1), std::nullopt) << i << ": one byte over the limit";
  }
  EXPECT_EQ(zip->Read(2, 0), std::string());
  EXPECT_EQ(zip->Read(99, 100), std::nullopt) << "no such entry";
}

TEST(ZipArchiveTest, HandsOutContentInBoundedPiecesAndStopsAtASinkFailure) {
  const std::string content = Patterned(1024 * 1024);
  ZipBuilder builder;
  builder.Add(ZipEntry::File("big", content, ZipMethod::kDeflated));
  std::string bytes;
  const auto zip = OpenBuilt(builder, bytes);
  ASSERT_NE(zip, nullptr);
  std::string joined;
  size_t pieces = 0;
  size_t largest = 0;
  const Status read = zip->ReadChunks(0, [&](std::span<const uint8_t> chunk) {
    ++pieces;
    largest = std::max(largest, chunk.size());
    joined.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return Status::Ok();
  });
  ASSERT_TRUE(read.ok()) << read.why();
  EXPECT_EQ(joined, content);
  EXPECT_GT(pieces, 4u);
  EXPECT_LE(largest, 256u * 1024) << "memory is bounded by the piece, not the entry";

  size_t calls = 0;
  const Status stopped = zip->ReadChunks(0, [&](std::span<const uint8_t>) {
    ++calls;
    return Status::Failed("disk full");
  });
  EXPECT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.why(), "disk full");
  EXPECT_EQ(calls, 1u);
}

// Each case one entry whose stored fields disagree with its data; the read
// must fail whatever the method.
TEST(ZipArchiveTest, RefusesDamagedAndLyingEntries) {
  const std::string content = Patterned(100 * 1024);
  for (const ZipMethod method : {ZipMethod::kStored, ZipMethod::kDeflated}) {
    std::vector<ZipEntry> cases;
    cases.push_back(ZipEntry::File("crc", content, method));
    cases.back().m_declaredCrc = 0x12345678;
    cases.push_back(ZipEntry::File("smaller", content, method));
    cases.back().m_declaredSize = 100;
    cases.push_back(ZipEntry::File("larger", content, method));
    cases.back().m_declaredSize = static_cast<uint32_t>(content.size() * 4);
    for (const ZipEntry& entry : cases) {
      SCOPED_TRACE(entry.m_name + (method == ZipMethod::kStored ? " stored" : " deflated"));
      ZipBuilder builder;
      builder.Add(entry);
      std::string bytes;
      const auto zip = OpenBuilt(builder, bytes);
      ASSERT_NE(zip, nullptr);
      EXPECT_EQ(zip->Read(0, content.size() * 8), std::nullopt);
      size_t delivered = 0;
      const Status read = zip->ReadChunks(0, [&](std::span<const uint8_t> chunk) {
        delivered += chunk.size();
        return Status::Ok();
      });
      EXPECT_FALSE(read.ok());
      if (entry.m_name == "smaller") {
        EXPECT_LE(delivered, 100u) << "nothing past the size field comes out";
      }
    }
  }
  // Deflated data with a byte changed in the middle.
  ZipBuilder builder;
  builder.Add(ZipEntry::File("a", content, ZipMethod::kDeflated));
  std::string bytes = builder.Build();
  bytes[30 + 1 + 200] ^= 0x55;
  const auto zip = ZipArchive::Open(AsBytes(bytes));
  ASSERT_NE(zip, nullptr);
  EXPECT_EQ(zip->Read(0, content.size()), std::nullopt);
}

TEST(ZipArchiveTest, OpensNothingThatIsNoArchive) {
  ZipBuilder builder;
  builder.Add(ZipEntry::File("a", "content"));
  const std::string archive = builder.Build();
  const std::string text(4096, 'x');
  for (const std::string& bytes :
       {std::string(), text, archive.substr(0, archive.size() - 10), archive.substr(0, 30)}) {
    EXPECT_EQ(ZipArchive::Open(AsBytes(bytes)), nullptr) << bytes.size();
  }
}

TEST(ZipArchiveTest, ReportsEntriesThatShareBytes) {
  const std::string content(1024 * 1024, 'z');
  {
    ZipBuilder plain;
    plain.Add(ZipEntry::File("a", content, ZipMethod::kDeflated));
    plain.Add(ZipEntry::File("b", "x"));
    std::string bytes;
    const auto zip = OpenBuilt(plain, bytes);
    ASSERT_NE(zip, nullptr);
    EXPECT_TRUE(zip->EntriesApart());
  }
  for (const std::string prefix : {"", "copy"}) {
    SCOPED_TRACE("aliases named '" + prefix + "'");
    ZipBuilder bomb;
    bomb.Add(ZipEntry::File("a", content, ZipMethod::kDeflated));
    bomb.AddAlias(0, 100, prefix);
    std::string bytes;
    const auto zip = OpenBuilt(bomb, bytes);
    ASSERT_NE(zip, nullptr) << "the reader opens it; the check must say no";
    EXPECT_EQ(zip->EntryCount(), 101u);
    EXPECT_FALSE(zip->EntriesApart());
  }
  // The first entry's data runs on over the second entry's local header.
  ZipBuilder runOn;
  ZipEntry first = ZipEntry::File("a", "hello");
  first.m_declaredCompressedSize = 5 + 30 + 1;
  runOn.Add(first);
  runOn.Add(ZipEntry::File("b", "world"));
  std::string bytes;
  const auto zip = OpenBuilt(runOn, bytes);
  ASSERT_NE(zip, nullptr);
  EXPECT_FALSE(zip->EntriesApart());
}

TEST(ZipArchiveTest, CountsVeryManyEntriesThroughTheZip64Records) {
  ZipBuilder builder;
  constexpr size_t kCount = 70000;
  for (size_t i = 0; i < kCount; ++i) builder.Add(ZipEntry::File("f" + std::to_string(i), ""));
  std::string bytes;
  const auto zip = OpenBuilt(builder, bytes);
  ASSERT_NE(zip, nullptr);
  EXPECT_EQ(zip->EntryCount(), kCount);
  EXPECT_TRUE(zip->EntriesApart());
  EXPECT_EQ(zip->EntryName(kCount - 1), "f69999");
}

}  // namespace
}  // namespace vorneth::testing
