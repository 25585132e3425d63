// The store on a full disk: a private tmpfs (tests/support/small_filesystem.h)
// filled to its last byte. A change fails with its failure value, the store
// file keeps its bytes, and no temporary file or partial copy stays behind.
// Mounting needs root; elsewhere the cases skip themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_reader_writer.h"
#include "store_test_support.h"
#include "support/file_bytes.h"
#include "support/fill_filesystem.h"
#include "support/small_filesystem.h"

namespace vorneth::testing {
namespace {

constexpr uint64_t kFilesystemBytes = 256 * 1024;

std::optional<std::string> BytesOf(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) return std::nullopt;
  return ReadBytes(path);
}

class StoreDiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_disk.mounted()) GTEST_SKIP() << m_disk.why();
  }

  std::string StorePath() const { return m_disk / "vorneth.db"; }
  std::optional<std::string> StoreBytes() const { return BytesOf(StorePath()); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_disk.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Fill() const { return FillFilesystem(m_disk / "filler", 4 * kFilesystemBytes); }
  void Free() const { std::filesystem::remove(m_disk / "filler"); }

  SmallFilesystem m_disk{kFilesystemBytes};
  store::StoreFolder m_folder{m_disk.path()};
};

TEST_F(StoreDiskFullTest, EveryChangeFailsAndTheStoreKeepsItsBytes) {
  EXPECT_OK(store::SetDomainDenied(m_folder, kA));
  const std::optional<std::string> before = StoreBytes();
  ASSERT_TRUE(before.has_value());
  ASSERT_TRUE(Fill());

  const Status denied = store::SetDomainDenied(m_folder, kB);
  EXPECT_FALSE(denied.ok());
  EXPECT_NE(denied.why().find("space"), std::string::npos) << denied.why();
  EXPECT_FALSE(store::SetPermissionMode(m_folder, "whitelist").ok());
  EXPECT_FALSE(store::SetDomainAllowed(m_folder, kA).ok());
  Json::Value document;
  document["blacklisted"].append(std::string(8192, 'x'));
  EXPECT_FALSE(m_folder.Write(document).ok());

  // Nothing changed and the failed writes removed their temporary files.
  EXPECT_EQ(StoreBytes(), before);
  EXPECT_EQ(Names(), (std::vector<std::string>{"filler", "vorneth.db", "vorneth.db.lock"}));
  EXPECT_TRUE(store::IsDomainBlocked(m_folder, kA));
  EXPECT_FALSE(store::IsDomainBlocked(m_folder, kB));

  // With space again the same change succeeds.
  Free();
  EXPECT_OK(store::SetDomainDenied(m_folder, kB));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example", "https://b.example"]})");
  EXPECT_EQ(Names(), (std::vector<std::string>{"vorneth.db", "vorneth.db.lock"}));
}

TEST_F(StoreDiskFullTest, ADamagedStoreIsNeitherCopiedInPartNorReplaced) {
  // The first change of a damaged store copies it aside; on a full disk the
  // copy cannot be made, so the change must not go ahead either.
  const std::string damaged = std::string(R"({"blacklisted":["https://a.example")") + std::string(6000, ' ');
  EXPECT_OK(FileReaderWriter::WriteFileAtomically(StorePath(), damaged));
  ASSERT_TRUE(Fill());

  EXPECT_FALSE(store::SetDomainDenied(m_folder, kB).ok());
  EXPECT_EQ(StoreBytes(), damaged);
  EXPECT_EQ(Names(), (std::vector<std::string>{"filler", "vorneth.db", "vorneth.db.lock"}));

  Free();
  EXPECT_OK(store::SetDomainDenied(m_folder, kB));
  EXPECT_EQ(BytesOf(m_disk / "vorneth.db.damaged"), damaged);
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example", "https://b.example"]})");
}

}  // namespace
}  // namespace vorneth::testing
