#include "support/zip_builder.h"

#include <zlib.h>

#include <stdexcept>
#include <utility>

namespace vorneth::testing {
namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint16_t kVersion = 20;
constexpr uint16_t kVersionZip64 = 45;
// 2020-01-01 00:00 in MS-DOS form.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = ((2020 - 1980) << 9) | (1 << 5) | 1;
constexpr size_t kZip64Count = 0xFFFF;
constexpr int kRawDeflate = -15;
constexpr int kMemoryLevel = 8;

void Put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}
void Put32(std::string& out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<uint16_t>(value >> 16));
}
void Put64(std::string& out, uint64_t value) {
  Put32(out, static_cast<uint32_t>(value & 0xFFFFFFFF));
  Put32(out, static_cast<uint32_t>(value >> 32));
}

// Raw deflate (no zlib header), as ZIP stores it. Test support: a zlib
// failure here is a broken test machine, so it throws.
std::string Deflate(const std::string& content) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, kRawDeflate, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, content.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

uint32_t Crc(const std::string& content) {
  return static_cast<uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
}

}  // namespace

// The fields a local header and its central record share, from the flags
// to the extra field's length.
void ZipBuilder::PutSharedFields(std::string& out, const ZipEntry& entry, const Written& w, const std::string& name) {
  Put16(out, 0);  // flags
  Put16(out, static_cast<uint16_t>(entry.m_method));
  Put16(out, kDosTime);
  Put16(out, kDosDate);
  Put32(out, w.m_crc);
  Put32(out, w.m_compressedSize);
  Put32(out, w.m_size);
  Put16(out, static_cast<uint16_t>(name.size()));
  Put16(out, 0);  // extra field
}

ZipEntry ZipEntry::File(std::string name, std::string content, ZipMethod method) {
  ZipEntry entry;
  entry.m_name = std::move(name);
  entry.m_content = std::move(content);
  entry.m_method = method;
  return entry;
}

ZipEntry ZipEntry::Folder(std::string name) {
  ZipEntry entry;
  entry.m_name = std::move(name);
  entry.m_externalAttributes = (kUnixFolder << 16) | kDosFolderAttribute;
  return entry;
}

ZipEntry ZipEntry::DosFolder(std::string name) {
  ZipEntry entry;
  entry.m_name = std::move(name);
  entry.m_system = kZipSystemDos;
  entry.m_externalAttributes = kDosFolderAttribute;
  return entry;
}

ZipEntry ZipEntry::SymbolicLink(std::string name, std::string target) {
  ZipEntry entry;
  entry.m_name = std::move(name);
  entry.m_content = std::move(target);
  entry.m_externalAttributes = kUnixSymbolicLink << 16;
  return entry;
}

size_t ZipBuilder::Add(ZipEntry entry) {
  m_entries.push_back(std::move(entry));
  return m_entries.size() - 1;
}

void ZipBuilder::AddAlias(size_t index, size_t count, const std::string& namePrefix) {
  for (size_t i = 0; i < count; ++i) {
    m_aliases.push_back({index, namePrefix.empty() ? m_entries.at(index).m_name : namePrefix + std::to_string(i)});
  }
}

std::string ZipBuilder::Build() const {
  std::string out;
  std::vector<Written> written;
  for (const ZipEntry& entry : m_entries) {
    const std::string data = entry.m_method == ZipMethod::kDeflated ? Deflate(entry.m_content) : entry.m_content;
    Written w;
    w.m_offset = static_cast<uint32_t>(out.size());
    w.m_crc = entry.m_declaredCrc.value_or(Crc(entry.m_content));
    w.m_size = entry.m_declaredSize.value_or(static_cast<uint32_t>(entry.m_content.size()));
    w.m_compressedSize = entry.m_declaredCompressedSize.value_or(static_cast<uint32_t>(data.size()));
    Put32(out, kLocalSignature);
    Put16(out, kVersion);
    PutSharedFields(out, entry, w, entry.m_name);
    out += entry.m_name;
    out += data;
    written.push_back(w);
  }
  std::vector<Alias> records;
  for (size_t i = 0; i < m_entries.size(); ++i) records.push_back({i, m_entries[i].m_name});
  records.insert(records.end(), m_aliases.begin(), m_aliases.end());

  const uint64_t directoryOffset = out.size();
  for (const Alias& record : records) {
    const ZipEntry& entry = m_entries.at(record.m_index);
    const Written& w = written.at(record.m_index);
    Put32(out, kCentralSignature);
    Put16(out, static_cast<uint16_t>((entry.m_system << 8) | kVersion));
    Put16(out, kVersion);
    PutSharedFields(out, entry, w, record.m_name);
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, entry.m_externalAttributes);
    Put32(out, w.m_offset);
    out += record.m_name;
  }
  const uint64_t directorySize = out.size() - directoryOffset;
  const bool zip64 = records.size() >= kZip64Count;
  if (zip64) {
    const uint64_t zip64End = out.size();
    Put32(out, kZip64EndSignature);
    Put64(out, 44);  // size of the rest of this record
    Put16(out, kVersionZip64);
    Put16(out, kVersionZip64);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, records.size());
    Put64(out, records.size());
    Put64(out, directorySize);
    Put64(out, directoryOffset);
    Put32(out, kZip64LocatorSignature);
    Put32(out, 0);
    Put64(out, zip64End);
    Put32(out, 1);  // number of disks
  }
  const uint16_t count = zip64 ? static_cast<uint16_t>(kZip64Count) : static_cast<uint16_t>(records.size());
  Put32(out, kEndSignature);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, count);
  Put16(out, count);
  Put32(out, static_cast<uint32_t>(directorySize));
  Put32(out, static_cast<uint32_t>(directoryOffset));
  Put16(out, 0);  // comment
  return out;
}

}  // namespace vorneth::testing
