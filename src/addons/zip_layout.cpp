#include "addons/zip_layout.h"

#include <algorithm>
#include <utility>

namespace vorneth {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;

constexpr size_t kEndSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;

constexpr uint16_t kNo16 = 0xFFFF;
constexpr uint32_t kNo32 = 0xFFFFFFFF;

// Little-endian fields read with a bounds check against the whole block.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }
  uint64_t Field(uint64_t offset, int width) const {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | m_bytes[offset + i];
    return value;
  }
  uint16_t U16(uint64_t offset) const { return static_cast<uint16_t>(Field(offset, 2)); }
  uint32_t U32(uint64_t offset) const { return static_cast<uint32_t>(Field(offset, 4)); }
  uint64_t U64(uint64_t offset) const { return Field(offset, 8); }
  std::string Text(uint64_t offset, uint64_t length) const {
    return std::string(reinterpret_cast<const char*>(m_bytes.data() + offset), length);
  }
  size_t size() const { return m_bytes.size(); }

 private:
  std::span<const uint8_t> m_bytes;
};

// Where the central directory starts and how many records it holds.
struct DirectoryPlace {
  uint64_t offset = 0;
  uint64_t count = 0;
};

// The Zip64 end record that the locator before the end record at `end`
// names, when the 16- or 32-bit fields there say it is needed.
std::optional<DirectoryPlace> Zip64Place(const Reader& reader, uint64_t end) {
  if (end < kZip64LocatorSize || reader.U32(end - kZip64LocatorSize) != kZip64LocatorSignature) return std::nullopt;
  const uint64_t record = reader.U64(end - kZip64LocatorSize + 8);
  if (!reader.Has(record, kZip64EndSize) || reader.U32(record) != kZip64EndSignature) return std::nullopt;
  return DirectoryPlace{reader.U64(record + 48), reader.U64(record + 32)};
}

std::optional<DirectoryPlace> PlaceAt(const Reader& reader, uint64_t end) {
  const uint16_t count = reader.U16(end + 10);
  const uint32_t offset = reader.U32(end + 16);
  if (count == kNo16 || offset == kNo32) return Zip64Place(reader, end);
  return DirectoryPlace{offset, count};
}

// Replaces the 32-bit fields that are all ones with the Zip64 extra field's
// values, which come in this order and only for those fields.
bool ApplyZip64(const Reader& reader, uint64_t extra, uint64_t extraEnd, uint32_t size, ZipCentralRecord& record) {
  while (extra + 4 <= extraEnd) {
    const uint16_t id = reader.U16(extra);
    const uint16_t length = reader.U16(extra + 2);
    const uint64_t data = extra + 4;
    if (data + length > extraEnd) return false;
    if (id == kZip64ExtraId) {
      uint64_t at = data;
      const auto take = [&](uint64_t& field) {
        if (at + 8 > data + length) return false;
        field = reader.U64(at);
        at += 8;
        return true;
      };
      uint64_t ignored = 0;
      if (size == kNo32 && !take(ignored)) return false;
      if (record.compressedSize == kNo32 && !take(record.compressedSize)) return false;
      if (record.localHeaderOffset == kNo32 && !take(record.localHeaderOffset)) return false;
      return true;
    }
    extra = data + length;
  }
  return true;
}

std::optional<std::vector<ZipCentralRecord>> ReadRecords(const Reader& reader, const DirectoryPlace& place) {
  std::vector<ZipCentralRecord> records;
  // Each record takes at least kCentralSize bytes: a count that cannot fit
  // is refused before anything is reserved.
  if (place.count > reader.size() / kCentralSize) return std::nullopt;
  records.reserve(place.count);
  uint64_t at = place.offset;
  for (uint64_t i = 0; i < place.count; ++i) {
    if (!reader.Has(at, kCentralSize) || reader.U32(at) != kCentralSignature) return std::nullopt;
    const uint16_t nameLength = reader.U16(at + 28);
    const uint16_t extraLength = reader.U16(at + 30);
    const uint16_t commentLength = reader.U16(at + 32);
    const uint64_t next = at + kCentralSize + nameLength + extraLength + commentLength;
    if (!reader.Has(at, next - at)) return std::nullopt;
    ZipCentralRecord record;
    record.name = reader.Text(at + kCentralSize, nameLength);
    record.compressedSize = reader.U32(at + 20);
    record.localHeaderOffset = reader.U32(at + 42);
    const uint64_t extra = at + kCentralSize + nameLength;
    if (!ApplyZip64(reader, extra, extra + extraLength, reader.U32(at + 24), record)) return std::nullopt;
    records.push_back(std::move(record));
    at = next;
  }
  return records;
}

}  // namespace

std::optional<std::vector<ZipCentralRecord>> ReadCentralDirectory(std::span<const uint8_t> bytes) {
  const Reader reader(bytes);
  if (bytes.size() < kEndSize) return std::nullopt;
  const uint64_t last = bytes.size() - kEndSize;
  const uint64_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
  for (uint64_t end = last + 1; end-- > first;) {
    if (reader.U32(end) != kEndSignature) continue;
    const std::optional<DirectoryPlace> place = PlaceAt(reader, end);
    if (!place) continue;
    std::optional<std::vector<ZipCentralRecord>> records = ReadRecords(reader, *place);
    if (records) return records;
  }
  return std::nullopt;
}

bool LocalRangesApart(std::span<const uint8_t> bytes, const std::vector<ZipCentralRecord>& records) {
  const Reader reader(bytes);
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  ranges.reserve(records.size());
  for (const ZipCentralRecord& record : records) {
    const uint64_t start = record.localHeaderOffset;
    if (!reader.Has(start, kLocalSize) || reader.U32(start) != kLocalSignature) return false;
    const uint64_t header = kLocalSize + reader.U16(start + 26) + reader.U16(start + 28);
    if (!reader.Has(start, header) || !reader.Has(start + header, record.compressedSize)) return false;
    ranges.emplace_back(start, start + header + record.compressedSize);
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].first < ranges[i - 1].second) return false;
  }
  return true;
}

}  // namespace vorneth
