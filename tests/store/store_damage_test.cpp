// Stores that are damaged, unreadable or odd, and leftovers of killed
// writers: nothing the user had is lost without a copy, a store that cannot
// be read is never written over, the permission gate fails closed, and no
// file in the folder can hold the host or send a write elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "store_test_support.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Exit codes of a child that runs operations on an odd store.
constexpr int kChildAsExpected = 0;
constexpr int kChildReadWrong = 1;
constexpr int kChildChangeWrong = 2;

std::string Nested(int depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

class StoreDamageTest : public StoreTest {
 protected:
  // After a change on a damaged file: the file is valid compact JSON that
  // reads whole, and the copy holds exactly the damaged bytes.
  Json::Value ExpectRewrittenWithCopy(const std::string& damaged) {
    const std::optional<std::string> bytes = StoreBytes();
    EXPECT_TRUE(bytes.has_value());
    if (!bytes) return Json::Value();
    Json::Value document;
    EXPECT_TRUE(ParseJsonUpToDamage(*bytes, document)) << "the rewritten store must read whole";
    EXPECT_EQ(Compact(document), *bytes);
    EXPECT_EQ(BytesOf(DamagedPath()), damaged);
    return document;
  }

  // A store that cannot be read reads as empty, and no change of any kind
  // gets through to it.
  void ExpectStoreReadsAsEmptyAndChangesFail(const char* what) {
    EXPECT_TRUE(Folder().Read().isNull()) << what;
    EXPECT_FALSE(store::IsWhitelistMode(Folder())) << what;
    EXPECT_FALSE(store::IsInstalled(Folder(), "U", "1")) << what;
    EXPECT_FALSE(store::SetDomainDenied(Folder(), kA).ok()) << what;
    EXPECT_FALSE(store::SetPermissionMode(Folder(), "blacklist").ok()) << what;
    EXPECT_FALSE(store::SetInstalled(Folder(), "U", "1", "o", "p", "n", "d", "i").ok()) << what;
    EXPECT_FALSE(Folder().Write(Json::Value(Json::objectValue)).ok()) << what;
  }
};

TEST_F(StoreDamageTest, AFileNestedTooDeepKeepsWhatCameBeforeAndIsCopiedOnce) {
  const std::string damaged = R"({"permission-mode":"whitelist","whitelisted":["https://a.example"],"deep":)" +
                              Nested(5000) + R"(,"blacklisted":["https://x.example"]})";
  PutStoreBytes(damaged);
  // Read as far as the damage: the mode and the whitelist before it count.
  EXPECT_TRUE(store::IsWhitelistMode(Folder()));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kB));

  EXPECT_OK(store::SetDomainAllowed(Folder(), kB));
  const Json::Value document = ExpectRewrittenWithCopy(damaged);
  EXPECT_EQ(Compact(document["whitelisted"]), R"(["https://a.example", "https://b.example"])");
  EXPECT_EQ(document["permission-mode"], "whitelist");
  EXPECT_TRUE(document["deep"].isArray()) << "the part of the deep member before the cut stays";

  // The rewritten store reads whole: the next change makes no new copy and
  // keeps what the last one wrote.
  EXPECT_OK(store::SetDomainAllowed(Folder(), "https://c.example"));
  EXPECT_EQ(BytesOf(DamagedPath()), damaged);
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kB));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), "https://c.example"));
}

TEST_F(StoreDamageTest, DamageBeforeEverythingElseStillLosesNothingWithoutACopy) {
  // The reader stops at once: the new file holds only the change, and what
  // stood after the damage survives in the copy.
  for (const std::string& damaged :
       std::vector<std::string>{"not json at all, {\"whitelisted\":[\"https://a.example\"]}",
                                R"({"deep":)" + Nested(1200) + R"(,"installed":[{"uuid":"U","version":["1"]}]})",
                                std::string("\x00\xff{\"blacklisted\":[]}", 19)}) {
    fs::remove(DamagedPath());
    PutStoreBytes(damaged);
    EXPECT_FALSE(store::IsInstalled(Folder(), "U", "1"));
    EXPECT_OK(store::SetDomainDenied(Folder(), kA));
    ExpectRewrittenWithCopy(damaged);
    EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  }
}

TEST_F(StoreDamageTest, ATruncatedFileIsRewrittenFromWhatWasReadAndAnExistingCopyIsKept) {
  const std::string first = R"({"installed":[{"uuid":"U","version":["1"],"origin":["o"],"install":[{}]}],"white)";
  PutStoreBytes(first);
  EXPECT_TRUE(store::IsInstalled(Folder(), "U", "1"));
  EXPECT_OK(store::SetInstalled(Folder(), "U", "2", "o", "p", "n", "d", "i"));
  ExpectRewrittenWithCopy(first);
  EXPECT_TRUE(store::IsInstalled(Folder(), "U", "1"));
  EXPECT_TRUE(store::IsInstalled(Folder(), "U", "2"));

  // A second damage later: the first copy is never overwritten.
  PutStoreBytes(R"({"blacklisted":["https://a.example")");
  EXPECT_OK(store::SetDomainDenied(Folder(), kB));
  EXPECT_EQ(BytesOf(DamagedPath()), first);
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example", "https://b.example"]})");
}

TEST_F(StoreDamageTest, APermissionModeThatIsNotATextClosesTheGate) {
  for (const char* mode : {"true", "false", "1", "0", "-2.5", R"(["blacklist"])", R"({"mode":"blacklist"})", "\"\""}) {
    const std::string bytes = std::string(R"({"permission-mode":)") + mode + "}";
    PutStoreBytes(bytes);
    EXPECT_TRUE(store::IsWhitelistMode(Folder())) << mode;
    EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA)) << mode;
    EXPECT_TRUE(store::IsDomainBlocked(Folder(), "")) << mode;

    // A change works in whitelist mode and leaves the mode as it was.
    EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
    EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA)) << mode;
    EXPECT_TRUE(store::IsDomainBlocked(Folder(), kB)) << mode;
    Json::Value document;
    ASSERT_TRUE(ParseJson(*StoreBytes(), document));
    EXPECT_EQ(Compact(document["permission-mode"]), Compact(Parse(mode))) << mode;
    EXPECT_EQ(Compact(document["whitelisted"]), R"(["https://a.example"])") << mode;
  }
  // Only null (or absent) and the exact text select blacklist mode.
  for (const char* open : {R"({"permission-mode":null})", R"({"permission-mode":"blacklist"})", "{}"}) {
    PutStoreBytes(open);
    EXPECT_FALSE(store::IsWhitelistMode(Folder())) << open;
    EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA)) << open;
  }
}

TEST_F(StoreDamageTest, AStoreThatCannotBeReadIsNeverWrittenOver) {
  // Unreadable whoever runs the test: a folder and a link named "vorneth.db"
  // (links are not followed, so the file behind one cannot be read through
  // it), and a file without read permission when not running as root.
  const std::string elsewhere = Scratch() / "elsewhere";
  fs::create_directory(elsewhere);
  const std::string target = elsewhere + "/store";
  const std::string kept = R"({"permission-mode":"whitelist","whitelisted":["https://a.example"]})";
  {
    std::ofstream file(target, std::ios::binary);
    file << kept;
  }
  const auto expectUntouched = [&](const char* what) {
    ExpectStoreReadsAsEmptyAndChangesFail(what);
    EXPECT_EQ(BytesOf(target), kept) << what;
    EXPECT_FALSE(fs::exists(DamagedPath())) << what;
  };

  fs::create_directory(StorePath());
  { std::ofstream(StorePath() + "/inside") << "x"; }
  expectUntouched("folder");
  EXPECT_TRUE(fs::is_directory(StorePath()));
  EXPECT_EQ(BytesOf(StorePath() + "/inside"), "x");
  fs::remove_all(StorePath());

  fs::create_symlink(target, StorePath());
  expectUntouched("link");
  EXPECT_TRUE(fs::is_symlink(StorePath()));
  fs::remove(StorePath());

  if (geteuid() != 0) {
    PutStoreBytes(kept);
    ASSERT_EQ(chmod(StorePath().c_str(), 0), 0);
    ExpectStoreReadsAsEmptyAndChangesFail("mode 000");
    ASSERT_EQ(chmod(StorePath().c_str(), 0600), 0);
    EXPECT_EQ(StoreBytes(), kept);
  }
}

TEST_F(StoreDamageTest, AFifoNamedLikeTheStoreHoldsNobody) {
  ASSERT_EQ(mkfifo(StorePath().c_str(), 0600), 0);
  // In a child with a deadline: a store that waited on the FIFO would hang.
  const pid_t pid = Spawn([this] {
    if (store::IsDomainBlocked(Folder(), kA) || !store::ReadAddOnList(Folder()).isNull()) return kChildReadWrong;
    if (store::SetDomainDenied(Folder(), kA).ok() || Folder().Write(Json::Value(Json::objectValue)).ok()) {
      return kChildChangeWrong;
    }
    return kChildAsExpected;
  });
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ExitCode(pid, 20s), kChildAsExpected);
  struct stat info {};
  ASSERT_EQ(lstat(StorePath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO is left as it is";
}

TEST_F(StoreDamageTest, ADanglingLinkNamedLikeTheLockCreatesNothingAtItsTarget) {
  const std::string target = Scratch() / "elsewhere";
  fs::create_symlink(target, LockPath());
  PutStoreBytes(R"({"blacklisted":["https://a.example"]})");
  const pid_t pid = Spawn([this] {
    // Reads go ahead without the lock; changes are not made.
    if (!store::IsDomainBlocked(Folder(), kA)) return kChildReadWrong;
    if (store::SetDomainDenied(Folder(), kB).ok()) return kChildChangeWrong;
    return kChildAsExpected;
  });
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ExitCode(pid, 20s), kChildAsExpected);
  EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << "the lock followed the link";
  EXPECT_TRUE(fs::is_symlink(LockPath()));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example"]})");
}

TEST_F(StoreDamageTest, TheNextWriteRemovesTemporaryFilesOfKilledWriters) {
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  for (const char* leftover : {"vorneth.db.Ab3xYz.tmp", "vorneth.db.1234-5.tmp", "vorneth.db.damaged.q1w2e3.tmp"}) {
    std::ofstream(Scratch() / leftover) << "{\"half";
  }
  fs::create_symlink(Scratch() / "nowhere", Scratch() / "vorneth.db.link12.tmp");
  // Not leftovers of this store: another file's, a folder, other names.
  const std::vector<std::string> others = {"other.db.Ab3xYz.tmp", "vorneth.db.tmp", "vorneth.db.x.tmp.keep",
                                           "vorneth.dbA.x.tmp"};
  for (const std::string& other : others) std::ofstream(Scratch() / other) << "keep";
  fs::create_directory(Scratch() / "vorneth.db.folder.tmp");

  // Reads leave them; only a write, under the lock, removes them.
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_TRUE(fs::exists(Scratch() / "vorneth.db.Ab3xYz.tmp"));

  EXPECT_OK(store::SetDomainDenied(Folder(), kB));
  std::vector<std::string> expected = others;
  expected.insert(expected.end(), {"vorneth.db", "vorneth.db.folder.tmp", "vorneth.db.lock"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Scratch().Names(), expected);
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example", "https://b.example"]})");
}

}  // namespace
}  // namespace vorneth::testing
