#include "probes/volume_label.h"

#include <limits>
#include <span>
#include <string>
#include <utility>

#include "platform/bytes.h"
#include "probes/fat32.h"

using volume_read::AddOffset;
using volume_read::ByteBuffer;
using volume_read::ReadAt;
using volume_read::ReadBootSector;
using volume_read::ReadSectorSizes;

namespace {

// Boot sector (offsets from the partition's first byte).
constexpr std::size_t kOemId = 0x03;                  // 8 bytes
constexpr std::size_t kFat32FsType = 0x52;            // 8 bytes
constexpr std::size_t kNtfsMftCluster = 0x30;         // u64
constexpr std::size_t kNtfsClustersPerRecord = 0x40;  // s8, or u32 when not negative

// NTFS file record and attribute.
constexpr std::size_t kRecordFirstAttribute = 0x14;  // u16
constexpr std::size_t kAttributeType = 0x00;         // u32
constexpr std::size_t kAttributeLength = 0x04;       // u32
constexpr std::size_t kAttributeValueLength = 0x10;  // u32
constexpr std::size_t kAttributeValue = 0x18;        // the value is always taken here
constexpr std::uint32_t kVolumeNameType = 0x60;
constexpr std::uint32_t kEndOfAttributes = 0xFFFFFFFF;
constexpr std::size_t kVolumeFileRecord = 3;

// Bounds on damaged structures.
// File records are 1 KiB or 4 KiB in practice; anything beyond 1 MiB is damage.
constexpr std::uint64_t kMaxRecordBytes = 1024 * 1024;
// The volume name is copied through a 1024-byte buffer that keeps a terminator.
constexpr std::size_t kNameBufferBytes = 1024;

// a * b, false when it would not fit in 64 bits.
bool Multiply(std::uint64_t a, std::uint64_t b, std::uint64_t* product) {
  if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return false;
  *product = a * b;
  return true;
}

// One UTF-16 code unit sequence as wchar_t: unchanged where wchar_t is 16 bits, with
// surrogate pairs joined where it is 32 bits.
void AppendUtf16(std::wstring* out, const std::uint16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t c = units[i];
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c < 0xDC00 && i + 1 < count &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    }
    out->push_back(static_cast<wchar_t>(c));
  }
}

void StoreLabel(std::wstring* szLabel, std::wstring label) {
  // The caller's buffer keeps a terminator.
  if (label.size() > kLabelBufferChars - 1) label.resize(kLabelBufferChars - 1);
  *szLabel = std::move(label);
}

}  // namespace

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

std::int32_t ReadVolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                             std::int64_t llStartingOffset) {
  if (hDrive == os::kInvalidHandle || hDrive == 0 || szLabel == nullptr) return kLocatorNoHandle;
  std::uint8_t boot[volume_read::kBootSectorBytes];
  if (!ReadBootSector(hDrive, llStartingOffset, boot)) return kLocatorFailed;
  const std::span<const std::uint8_t> sector(boot);
  if (bytes::Equals(sector, kOemId, "-FVE-FS-", 8)) return kLocatorNotFound;
  if (bytes::Equals(sector, kOemId, "NTFS    ", 8)) {
    return ReadNtfsVolumeLabel(hDrive, szLabel, llStartingOffset);
  }
  if (bytes::Equals(sector, kFat32FsType, "FAT32   ", 8)) {
    return ReadFat32VolumeLabel(hDrive, szLabel, llStartingOffset);
  }
  return kLocatorNotFound;
}

std::int32_t ReadFat32VolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                                  std::int64_t llStartingOffset) {
  std::uint8_t boot[volume_read::kBootSectorBytes];
  if (!ReadBootSector(hDrive, llStartingOffset, boot)) return kLocatorFailed;
  fat32::Geometry g;
  const std::int32_t checked = fat32::ReadGeometry(boot, llStartingOffset, &g);
  if (checked != kLocatorFound) return checked;
  // The whole table is read before any cluster is looked at: a sector that cannot be read
  // anywhere in it fails the label, as a read of the whole table in one would. Like every
  // buffer here, memory that cannot be had fails the read, and the partition is skipped.
  fat32::Table table;
  ByteBuffer cluster;
  if (!table.Read(hDrive, g, g.rootCluster) || !cluster.Allocate(g.clusterBytes)) {
    return kLocatorFailed;
  }
  // The root cluster is always taken; clusters 0 and 1 name no data, and a root beyond the
  // table names no cluster the table describes: such a root holds no label.
  if (g.rootCluster < 2 || g.rootCluster >= g.entries) return kLocatorNotFound;
  // Each turn takes a cluster the chain has not visited (Table::NextCluster), so there are at
  // most as many turns as the table has entries.
  for (std::uint32_t current = g.rootCluster;;) {
    std::int64_t offset = 0;
    std::uint32_t read = 0;
    if (!fat32::ClusterOffset(g, llStartingOffset, current, &offset) ||
        !ReadAt(hDrive, offset, cluster.data.get(), g.clusterBytes, &read)) {
      return kLocatorFailed;
    }
    std::string name;
    if (fat32::ScanDirectory(cluster.span(read), &name)) {
      StoreLabel(szLabel, os::MultiByteToWideChar(os::kCpOemcp, name));
      return kLocatorFound;
    }
    const fat32::Next next = table.NextCluster(current, &current);
    if (next == fat32::Next::kFailed) return kLocatorFailed;
    if (next == fat32::Next::kEnd) return kLocatorNotFound;
  }
}

std::int32_t ReadNtfsVolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                                 std::int64_t llStartingOffset) {
  std::uint8_t bootBytes[volume_read::kBootSectorBytes];
  if (!ReadBootSector(hDrive, llStartingOffset, bootBytes)) return kLocatorFailed;
  const std::span<const std::uint8_t> boot(bootBytes);
  std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0;
  if (!ReadSectorSizes(boot, &bytesPerSector, &sectorsPerCluster)) return kLocatorNotFound;
  const std::uint64_t clusterBytes = static_cast<std::uint64_t>(bytesPerSector) * sectorsPerCluster;

  // Record size: 2^-v bytes for a negative byte v, else clusters per record x cluster bytes.
  // Records of 0 bytes or over kMaxRecordBytes are damage.
  const auto clustersPerRecord = static_cast<std::int8_t>(boot[kNtfsClustersPerRecord]);
  std::uint64_t recordBytes = 0;
  if (clustersPerRecord < 0) {
    if (-clustersPerRecord > 20) return kLocatorNotFound;  // 2^20 = kMaxRecordBytes
    recordBytes = 1ull << (-clustersPerRecord);
  } else if (!Multiply(bytes::U32(boot, kNtfsClustersPerRecord), clusterBytes, &recordBytes)) {
    return kLocatorNotFound;
  }
  if (recordBytes == 0 || recordBytes > kMaxRecordBytes) return kLocatorNotFound;

  // Record 3 of the master file table; a position outside 63 bits lies beyond any drive.
  std::uint64_t mftBytes = 0;
  std::int64_t mftOffset = 0, recordOffset = 0;
  if (!Multiply(bytes::U64(boot, kNtfsMftCluster), clusterBytes, &mftBytes) ||
      !AddOffset(llStartingOffset, mftBytes, &mftOffset) ||
      !AddOffset(mftOffset, kVolumeFileRecord * recordBytes, &recordOffset)) {
    return kLocatorFailed;
  }
  ByteBuffer record;
  if (!record.Allocate(static_cast<std::uint32_t>(recordBytes))) return kLocatorFailed;
  std::uint32_t read = 0;
  if (!ReadAt(hDrive, recordOffset, record.data.get(), static_cast<std::uint32_t>(recordBytes),
              &read)) {
    return kLocatorFailed;
  }
  // The walk stays inside the bytes that arrived; every step moves forward by a non-zero
  // length, so it ends.
  const std::span<const std::uint8_t> rec = record.span(read);
  std::size_t at = bytes::U16(rec, kRecordFirstAttribute);
  for (;;) {
    std::uint32_t type = 0, length = 0;
    if (!bytes::ReadU32(rec, at + kAttributeType, &type)) return kLocatorNotFound;
    if (type == kEndOfAttributes) return kLocatorNotFound;
    if (type == kVolumeNameType) break;
    if (!bytes::ReadU32(rec, at + kAttributeLength, &length) || length == 0) {
      return kLocatorNotFound;
    }
    // A length that reaches the end of the record or beyond ends the walk (compared before
    // adding, so a 32-bit size_t cannot wrap).
    if (length >= rec.size() - at) return kLocatorNotFound;
    at += length;
  }
  std::uint32_t valueLength = 0;
  if (!bytes::ReadU32(rec, at + kAttributeValueLength, &valueLength)) return kLocatorNotFound;
  if (!bytes::InRange(rec.size(), at + kAttributeValue, 0)) return kLocatorNotFound;

  // The value is cut to what the record holds and to the name buffer, which keeps a
  // terminator; the label ends at the first zero character or after value-length / 2.
  std::size_t copy = valueLength;
  const std::size_t inRecord = rec.size() - (at + kAttributeValue);
  if (copy > inRecord) copy = inRecord;
  if (copy > kNameBufferBytes - 2) copy = kNameBufferBytes - 2;
  std::uint16_t units[kNameBufferBytes / 2] = {};
  for (std::size_t i = 0; i < copy / 2; ++i)
    units[i] = bytes::U16(rec, at + kAttributeValue + 2 * i);
  std::size_t count = 0;
  while (count < copy / 2 && units[count] != 0) ++count;
  std::wstring label;
  AppendUtf16(&label, units, count);
  StoreLabel(szLabel, std::move(label));
  return kLocatorFound;
}
