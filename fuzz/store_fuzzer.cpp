// The store: a fuzzed "vorneth.db", then a changing operation on it (any of
// them: installation records, uninstall, permission mode, the two lists,
// and the primitive that replaces the document) with fuzzed arguments.
// After the operation:
// - a store file whose bytes changed is one strict JSON object (comments,
//   trailing bytes, a scalar top level, duplicate keys all refused) that
//   the store's own reader reads as the same value;
// - a change reported done is visible to the reads of the same API (an
//   installation is installed, a removed one is not, a new record has its
//   name, the mode is the one set, a denied origin is blocked, an allowed
//   one is not, a removed entry of a permission list is gone and a list of
//   another name is left alone, a replaced document is in the file as the
//   store writes it);
// - a change reported failed left the file's bytes as they were;
// - a damaged store that was rewritten left its original bytes in
//   "vorneth.db.damaged" (a whole one left no such copy), and after a write or a failure nothing but the
//   store, its lock file and that copy is in the folder (no temporary file
//   stays behind).
// A difference prints what was seen and aborts, which libFuzzer reports as
// a crash with the input saved.
//
// Input layout (the seeds in fuzz/corpus/store/ are written in it):
//   u16 little-endian n, then n modulo 1024 bytes: the store file (n = 0xFFFF:
//   no file);
//   then the operation: one byte (the operation, modulo their number)
//   followed by its text arguments. An argument is one byte b: with the high
//   bit set, text (b & 0x7F) of a small pool of texts the store knows
//   ("blacklist", "whitelisted", a uuid...), so that operations meet each
//   other; otherwise a length (b & 0x7F) and that many bytes.
//
// The store folder is on /dev/shm (shm_scratch.h); its files are removed
// between inputs.
#include <dirent.h>
#include <fcntl.h>
#include <json/reader.h>
#include <json/value.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "platform/status.h"
#include "shm_scratch.h"
#include "store/addon_records.h"
#include "store/domain_permissions.h"
#include "store/store_folder.h"

namespace {

namespace store = vorneth::store;

// Operations per input. Each one is a locked read and a whole rewrite of the
// file (a third of an input's time), and a fuzzed store file already is any
// state that a run of operations could leave, so one is enough; raising
// this halves the rate for each more.
constexpr size_t kMaxOperations = 1;
// A larger store only makes every operation slower; what a store can hold
// (nesting up to the reader's limit included) fits.
constexpr size_t kMaxStoreBytes = 1024;
constexpr uint16_t kNoFile = 0xFFFF;

constexpr std::array<const char*, 16> kPool = {"",
                                               "blacklist",
                                               "whitelist",
                                               "blacklisted",
                                               "whitelisted",
                                               "installed",
                                               "uuid-1",
                                               "uuid-2",
                                               "1.0",
                                               "2.0",
                                               "name",
                                               "version",
                                               "permission-mode",
                                               "http://a.example",
                                               "https://b.example:8443",
                                               "origin"};

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string()) {
  vorneth::fuzz::ShmScratch::Fail((std::string("fuzz_store: ") + what).c_str(), detail);
}

// The fuzz input, read front to back; reads past its end give nothing.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool empty() const { return m_at >= m_size; }
  uint8_t Byte() { return empty() ? 0 : m_data[m_at++]; }
  std::string Bytes(size_t count) {
    count = std::min(count, m_size - m_at);
    std::string text(reinterpret_cast<const char*>(m_data + m_at), count);
    m_at += count;
    return text;
  }
  std::string Text() {
    const uint8_t b = Byte();
    if (b & 0x80) return kPool[(b & 0x7F) % kPool.size()];
    return Bytes(b);
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

std::optional<std::string> ReadBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[8192];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
  close(fd);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    Fail("cannot write the store file");
  }
  close(fd);
}

// Strict JSON: no comments, nothing after the value, an object or array at
// the top, no duplicate keys.
bool ParseStrict(const std::string& text, Json::Value& out) {
  static const std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  std::string errors;
  return reader->parse(text.data(), text.data() + text.size(), &out, &errors);
}

std::string Show(const Json::Value& value) {
  return vorneth::StyledWriter().write(value);
}

bool ListHolds(const Json::Value& document, const char* list, const std::string& text) {
  for (const Json::Value& entry : vorneth::ArrayMember(document, list)) {
    if (vorneth::IsString(entry, text)) return true;
  }
  return false;
}

bool HasRecordOf(const store::StoreFolder& folder, const std::string& uuid) {
  for (const Json::Value& record : store::ReadAddOnList(folder)) {
    if (vorneth::IsString(vorneth::Member(record, "uuid"), uuid)) return true;
  }
  return false;
}

// One operation: runs it and checks what it reported against what the
// reads see afterwards. False when it reported a failure.
bool RunOperation(const store::StoreFolder& folder, uint8_t which, Input& input) {
  switch (which % 7) {
    case 0: {
      const std::string uuid = input.Text(), version = input.Text(), origin = input.Text(), owner = input.Text();
      const std::string name = input.Text(), description = input.Text(), icon = input.Text();
      const bool hadRecord = HasRecordOf(folder, uuid);
      if (!store::SetInstalled(folder, uuid, version, origin, owner, name, description, icon).ok()) return false;
      if (!store::IsInstalled(folder, uuid, version)) Fail("SetInstalled done, IsInstalled false:", uuid);
      if (!hadRecord && store::GetAddOnName(folder, uuid) != name) Fail("a new record lost its name:", uuid);
      return true;
    }
    case 1: {
      const std::string uuid = input.Text(), version = input.Text();
      if (!store::UnsetInstalled(folder, uuid, version).ok()) return false;
      if (store::IsInstalled(folder, uuid, version)) Fail("UnsetInstalled done, IsInstalled true:", uuid);
      return true;
    }
    case 2: {
      const std::string mode = input.Text();
      if (!store::SetPermissionMode(folder, mode).ok()) return false;
      if (store::IsWhitelistMode(folder) != (mode != "blacklist")) Fail("SetPermissionMode done, mode differs:", mode);
      return true;
    }
    case 3: {
      const std::string url = input.Text();
      if (!store::SetDomainDenied(folder, url).ok()) return false;
      if (!store::IsDomainBlocked(folder, url)) Fail("SetDomainDenied done, not blocked:", url);
      return true;
    }
    case 4: {
      const std::string url = input.Text();
      if (!store::SetDomainAllowed(folder, url).ok()) return false;
      if (store::IsDomainBlocked(folder, url)) Fail("SetDomainAllowed done, still blocked:", url);
      return true;
    }
    case 5: {
      const std::string url = input.Text(), list = input.Text();
      // Only the two permission lists are for the page to change; a page
      // naming another member ("installed") changes nothing.
      if (list != "blacklisted" && list != "whitelisted") {
        const std::string path = folder.PathOf(store::kStoreFileName);
        const std::optional<std::string> before = ReadBytes(path);
        if (!store::RemoveFromPermList(folder, url, list).ok()) return false;
        if (ReadBytes(path) != before) Fail("RemoveFromPermList changed", list);
        return true;
      }
      if (!store::RemoveFromPermList(folder, url, list).ok()) return false;
      if (ListHolds(folder.Read(), list.c_str(), url)) Fail("RemoveFromPermList done, still listed:", url);
      return true;
    }
    default: {
      // The primitive that replaces the document, with an object parsed
      // from a fuzzed text (whatever the reader built from it).
      Json::Value document;
      (void)vorneth::ParseJson(input.Text(), document);
      if (!document.isObject()) return true;
      if (!folder.Write(document).ok()) return false;
      // The file holds the document's text; CheckFolder then checks that
      // the store reads that text as a strict reader does. (The values
      // read back are those the text names: a real -0 or 2.0 is written
      // "-0" or "2" and reads back as the integer 0 or 2.)
      if (ReadBytes(folder.PathOf(store::kStoreFileName)) != Show(document)) {
        Fail("Write done, the file differs:", Show(document));
      }
      return true;
    }
  }
}

// What the store itself takes for whole: no file, a blank one, or one the
// reader takes whole (a deep or broken one is not). Only a store that was
// not whole must leave a copy when it is rewritten.
bool IsWhole(const std::optional<std::string>& text) {
  Json::Value ignored;
  return !text || vorneth::ParseJsonUpToDamage(*text, ignored) ||
         text->find_first_not_of(" \t\r\n") == std::string::npos;
}

// The folder after an operation, whose file held `before` and holds
// `after`: the checks that do not depend on which operation it was.
void CheckFolder(const store::StoreFolder& folder, const std::optional<std::string>& initial,
                 const std::optional<std::string>& before, const std::optional<std::string>& after, bool done) {
  if (after != before) {
    if (!after) Fail("an operation removed the store file");
    Json::Value strict;
    if (!ParseStrict(*after, strict) || !strict.isObject()) Fail("the store file is no strict JSON object:", *after);
    // The store's own reader takes the file for the same value. Compared as
    // written out, not byte for byte with the file: a real -0 is written
    // "-0" and reads back as the integer 0, the same JSON number.
    Json::Value read;
    if (!vorneth::ParseJsonUpToDamage(*after, read) || (read != strict && Show(read) != Show(strict))) {
      Fail("the store reads its file otherwise:", Show(read) + " / " + *after);
    }
  }
  if (after != initial) {
    // A rewritten store that was damaged left its bytes in the copy; one
    // that was whole left no copy.
    const std::optional<std::string> copy = ReadBytes(folder.PathOf(store::kDamagedCopyName));
    if (IsWhole(initial) ? copy.has_value() : copy != initial) Fail("the damaged copy is wrong:", copy.value_or(""));
  }
  // Nothing written, nothing left: only a write or a failure can leave a
  // stray file.
  if (after == before && done) return;
  // Listed with readdir: std::filesystem builds paths per entry, which took
  // a twentieth of an input's time.
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.folder().c_str()), &closedir);
  if (!listing) Fail("cannot list the store folder");
  for (const dirent* entry = readdir(listing.get()); entry != nullptr; entry = readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != ".." && name != store::kStoreFileName && name != store::kLockFileName &&
        name != store::kDamagedCopyName) {
      Fail("a stray file:", std::string(name));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const store::StoreFolder folder(vorneth::fuzz::ShmScratch::Path("fuzz_store"));
  const std::string storePath = folder.PathOf(store::kStoreFileName);
  unlink(folder.PathOf(store::kDamagedCopyName).c_str());

  Input input(data, size);
  const uint16_t length = static_cast<uint16_t>(input.Byte() | (input.Byte() << 8));
  std::optional<std::string> initial;
  if (length != kNoFile) {
    initial = input.Bytes(length % kMaxStoreBytes);
    WriteBytes(storePath, *initial);  // truncates what the last input left
  } else {
    unlink(storePath.c_str());
  }
  std::optional<std::string> before = initial;
  for (size_t count = 0; count < kMaxOperations && !input.empty(); ++count) {
    const uint8_t which = input.Byte();
    const bool done = RunOperation(folder, which, input);
    std::optional<std::string> after = ReadBytes(storePath);
    if (!done && after != before) Fail("a failed operation changed the store file");
    CheckFolder(folder, initial, before, after, done);
    before = std::move(after);
  }
  return 0;
}
