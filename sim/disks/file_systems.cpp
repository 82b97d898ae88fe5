// The file systems the simulator writes into partitions (NTFS, FAT32, BitLocker-marked) and
// reads back as Windows' drivers do for a volume's label.
//
// What is written is the least a reader of labels needs, laid out as the formats define it so
// that blkid recognises it too: NTFS gets a boot sector, $MFT record 0 and the $Volume record
// with its $VOLUME_NAME; FAT32 gets a boot sector, FSInfo, a backup boot sector, two FATs and a
// root directory holding the volume-label entry. BitLocker is an NTFS volume whose OEM id says
// "-FVE-FS-": Windows cannot mount it without its key.
#include "sim/disks/file_systems.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <span>
#include <vector>

#include "platform/bytes.h"
#include "sim/core/codepages.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/mbr.h"

namespace sim {

namespace {

constexpr std::uint32_t kNtfsClusterSectors = 8;  // 4 KiB clusters
constexpr std::uint32_t kNtfsRecordBytes = 1024;
constexpr std::uint64_t kNtfsMftCluster = 4;
constexpr std::uint32_t kFatReserved = 32;

bool WriteSectors(Machine& m, int disk, std::uint64_t offset, const std::vector<std::uint8_t>& b) {
  return WriteImage(m, disk, offset, b.data(), b.size());
}

std::uint32_t Serial(std::uint64_t offset) {
  return static_cast<std::uint32_t>(offset / kSectorBytes) * 2654435761u ^ 0x5EED1234u;
}

// Windows' update-sequence protection of a file record: the last two bytes of every sector
// move into the array and the sequence number takes their place.
void ProtectRecord(std::span<std::uint8_t> record) {
  const std::uint16_t usn = 1;
  const std::size_t sectors = record.size() / kSectorBytes;
  bytes::WriteU16(record, 0x30, usn);
  for (std::size_t i = 0; i < sectors; ++i) {
    const std::size_t end = (i + 1) * kSectorBytes - 2;
    bytes::WriteU16(record, 0x32 + 2 * i, bytes::U16(record, end));
    bytes::WriteU16(record, end, usn);
  }
}

std::vector<std::uint8_t> NtfsRecord(std::uint32_t number, const std::u16string* volumeName) {
  std::vector<std::uint8_t> rec(kNtfsRecordBytes, 0);
  std::span<std::uint8_t> r(rec);
  bytes::WriteBytes(r, 0x00, "FILE", 4);
  bytes::WriteU16(r, 0x04, 0x30);                                 // update sequence offset
  bytes::WriteU16(r, 0x06, 1 + kNtfsRecordBytes / kSectorBytes);  // its size in words
  bytes::WriteU16(r, 0x10, 1);                                    // sequence number
  bytes::WriteU16(r, 0x12, 1);                                    // link count
  bytes::WriteU16(r, 0x14, 0x38);                                 // first attribute
  bytes::WriteU16(r, 0x16, 0x0001);                               // in use
  bytes::WriteU32(r, 0x1C, kNtfsRecordBytes);                     // bytes allocated
  bytes::WriteU32(r, 0x2C, number);
  std::size_t at = 0x38;
  if (volumeName != nullptr) {
    // $VOLUME_NAME, resident: header of 0x18 bytes, then the name in UTF-16LE.
    const std::uint32_t valueBytes = static_cast<std::uint32_t>(volumeName->size() * 2);
    const std::uint32_t length = (0x18 + valueBytes + 7) & ~7u;
    bytes::WriteU32(r, at + 0x00, 0x60);
    bytes::WriteU32(r, at + 0x04, length);
    bytes::WriteU16(r, at + 0x0A, 0x18);  // name offset (no name)
    bytes::WriteU16(r, at + 0x0E, 1);     // attribute instance
    bytes::WriteU32(r, at + 0x10, valueBytes);
    bytes::WriteU16(r, at + 0x14, 0x18);  // value offset
    for (std::size_t i = 0; i < volumeName->size(); ++i) {
      bytes::WriteU16(r, at + 0x18 + 2 * i, static_cast<std::uint16_t>((*volumeName)[i]));
    }
    at += length;
  }
  bytes::WriteU32(r, at, 0xFFFFFFFF);
  bytes::WriteU32(r, 0x18, static_cast<std::uint32_t>(at + 8));  // bytes in use
  ProtectRecord(r);
  return rec;
}

std::u16string Utf16(const std::wstring& text) {
  std::u16string out;
  for (wchar_t wc : text) {
    // A wide character, not a char. NOLINTNEXTLINE(bugprone-signed-char-misuse)
    std::uint32_t c = static_cast<std::uint32_t>(wc);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

bool FormatNtfs(Machine& m, int disk, std::uint64_t offset, std::uint64_t length,
                const std::wstring& label, bool bitlocker) {
  const std::uint64_t sectors = length / kSectorBytes;
  if (sectors < 64) return false;
  std::vector<std::uint8_t> boot(kSectorBytes, 0);
  std::span<std::uint8_t> b(boot);
  const std::uint8_t jump[3] = {0xEB, 0x52, 0x90};
  bytes::WriteBytes(b, 0x00, jump, 3);
  bytes::WriteBytes(b, 0x03, bitlocker ? "-FVE-FS-" : "NTFS    ", 8);
  bytes::WriteU16(b, 0x0B, kSectorBytes);
  bytes::WriteU8(b, 0x0D, kNtfsClusterSectors);
  bytes::WriteU8(b, 0x15, 0xF8);  // media
  bytes::WriteU16(b, 0x18, 63);
  bytes::WriteU16(b, 0x1A, 255);
  bytes::WriteU32(b, 0x1C, static_cast<std::uint32_t>(offset / kSectorBytes));  // hidden sectors
  bytes::WriteU32(b, 0x24, 0x00800080);
  bytes::WriteU64(b, 0x28, sectors - 1);      // the last sector holds the backup boot sector
  bytes::WriteU64(b, 0x30, kNtfsMftCluster);  // $MFT
  bytes::WriteU64(b, 0x38, 2);                // $MFTMirr
  bytes::WriteU8(b, 0x40, 0xF6);              // records of 2^10 bytes
  bytes::WriteU8(b, 0x44, 1);                 // one cluster per index block
  bytes::WriteU64(b, 0x48, (static_cast<std::uint64_t>(Serial(offset)) << 32) | Serial(offset + 1));
  PutBootSignature(b);
  const std::uint64_t mft = offset + kNtfsMftCluster * kNtfsClusterSectors * kSectorBytes;
  const std::u16string name = Utf16(label);
  return WriteSectors(m, disk, offset, boot) &&
         WriteSectors(m, disk, offset + (sectors - 1) * kSectorBytes, boot) &&
         WriteSectors(m, disk, mft, NtfsRecord(0, nullptr)) &&
         WriteSectors(m, disk, mft + 3 * kNtfsRecordBytes, NtfsRecord(3, &name));
}

// Label text as the 11 OEM bytes of a FAT directory entry; characters outside the OEM code
// page become '_'.
std::string FatLabelBytes(const std::wstring& label) {
  std::string out;
  for (wchar_t c : label) {
    if (out.size() == 11) break;
    char byte = '_';
    if (c > 0 && c < 0x80) {
      byte = static_cast<char>(c);
    } else {
      for (int i = 0; i < 128; ++i) {
        if (static_cast<wchar_t>(kCp437[i]) == c) byte = static_cast<char>(0x80 + i);
      }
    }
    out.push_back(byte);
  }
  out.resize(11, ' ');
  return out;
}

bool FormatFat32(Machine& m, int disk, std::uint64_t offset, std::uint64_t length,
                 const std::wstring& label) {
  const std::uint64_t total = length / kSectorBytes;
  if (total > 0xFFFFFFFFull || total < kFatReserved + 64) return false;
  // Cluster sizes as Windows' format picks them.
  const std::uint64_t mb = length / (1024 * 1024);
  const std::uint32_t spc = mb < 64 ? 1 : mb <= 8192 ? 8 : mb <= 16384 ? 16 : mb <= 32768 ? 32 : 64;
  const std::uint64_t clusters = (total - kFatReserved) / spc;
  const std::uint32_t fatSectors =
      static_cast<std::uint32_t>(((clusters + 2) * 4 + kSectorBytes - 1) / kSectorBytes);
  const std::uint32_t dataStart = kFatReserved + 2 * fatSectors;
  if (dataStart + spc > total) return false;

  const std::string name = label.empty() ? std::string("NO NAME    ") : FatLabelBytes(label);
  std::vector<std::uint8_t> boot(kSectorBytes, 0);
  std::span<std::uint8_t> b(boot);
  const std::uint8_t jump[3] = {0xEB, 0x58, 0x90};
  bytes::WriteBytes(b, 0x00, jump, 3);
  bytes::WriteBytes(b, 0x03, "MSDOS5.0", 8);
  bytes::WriteU16(b, 0x0B, kSectorBytes);
  bytes::WriteU8(b, 0x0D, static_cast<std::uint8_t>(spc));
  bytes::WriteU16(b, 0x0E, kFatReserved);
  bytes::WriteU8(b, 0x10, 2);     // FATs
  bytes::WriteU8(b, 0x15, 0xF8);  // media
  bytes::WriteU16(b, 0x18, 63);
  bytes::WriteU16(b, 0x1A, 255);
  bytes::WriteU32(b, 0x1C, static_cast<std::uint32_t>(offset / kSectorBytes));
  bytes::WriteU32(b, 0x20, static_cast<std::uint32_t>(total));
  bytes::WriteU32(b, 0x24, fatSectors);
  bytes::WriteU32(b, 0x2C, 2);  // root cluster
  bytes::WriteU16(b, 0x30, 1);  // FSInfo
  bytes::WriteU16(b, 0x32, 6);  // backup boot sector
  bytes::WriteU8(b, 0x40, 0x80);
  bytes::WriteU8(b, 0x42, 0x29);
  bytes::WriteU32(b, 0x43, Serial(offset));
  bytes::WriteBytes(b, 0x47, name.data(), 11);
  bytes::WriteBytes(b, 0x52, "FAT32   ", 8);
  PutBootSignature(b);

  std::vector<std::uint8_t> info(kSectorBytes, 0);
  std::span<std::uint8_t> i(info);
  bytes::WriteU32(i, 0, 0x41615252);    // "RRaA"
  bytes::WriteU32(i, 484, 0x61417272);  // "rrAa"
  bytes::WriteU32(i, 488, 0xFFFFFFFF);
  bytes::WriteU32(i, 492, 0xFFFFFFFF);
  bytes::WriteU32(i, 508, 0xAA550000);

  // Only the first sector of each FAT holds anything; the rest stays a hole.
  std::vector<std::uint8_t> fat(kSectorBytes, 0);
  std::span<std::uint8_t> f(fat);
  bytes::WriteU32(f, 0, 0x0FFFFFF8);
  bytes::WriteU32(f, 4, 0x0FFFFFFF);
  bytes::WriteU32(f, 8, 0x0FFFFFFF);  // the root directory: one cluster

  // The root directory: the whole first cluster, cleared, with the label entry first.
  std::vector<std::uint8_t> root(static_cast<std::size_t>(spc) * kSectorBytes, 0);
  if (!label.empty()) {
    std::span<std::uint8_t> r(root);
    bytes::WriteBytes(r, 0, name.data(), 11);
    bytes::WriteU8(r, 11, 0x08);
  }
  const std::uint64_t s = kSectorBytes;
  return WriteSectors(m, disk, offset, boot) && WriteSectors(m, disk, offset + s, info) &&
         WriteSectors(m, disk, offset + 6 * s, boot) &&
         WriteSectors(m, disk, offset + 7 * s, info) &&
         WriteSectors(m, disk, offset + kFatReserved * s, fat) &&
         WriteSectors(m, disk, offset + (kFatReserved + fatSectors) * s, fat) &&
         WriteSectors(m, disk, offset + dataStart * s, root);
}

// ---- Reading labels as Windows does -----------------------------------------------------

// NTFS: the $Volume record with its update sequence applied, then $VOLUME_NAME through its
// own value offset. No such attribute: an empty label.
std::optional<std::wstring> NtfsLabel(Machine& m, int disk, std::uint64_t offset,
                                      std::span<const std::uint8_t> boot) {
  const std::uint32_t bps = bytes::U16(boot, 0x0B);
  const std::uint32_t spc = boot[0x0D];
  if (bps < 256 || bps > 4096 || spc == 0) return std::nullopt;
  const auto v = static_cast<std::int8_t>(boot[0x40]);
  const std::uint64_t recordBytes =
      v < 0 ? (v < -20 ? 0 : 1ull << -v) : static_cast<std::uint64_t>(v) * spc * bps;
  if (recordBytes < 512 || recordBytes > 65536) return std::nullopt;
  const std::uint64_t mft = bytes::U64(boot, 0x30);
  if (mft > (1ull << 40)) return std::nullopt;
  std::vector<std::uint8_t> rec = ReadImageBytes(
      m, disk, offset + mft * spc * bps + 3 * recordBytes, static_cast<std::size_t>(recordBytes));
  std::span<std::uint8_t> r(rec);
  if (!bytes::Equals(r, 0, "FILE", 4)) return std::nullopt;
  const std::size_t usa = bytes::U16(r, 0x04), words = bytes::U16(r, 0x06);
  for (std::size_t i = 1; i < words; ++i) {
    const std::size_t end = i * bps - 2;
    if (!bytes::InRange(r.size(), end, 2) || !bytes::InRange(r.size(), usa + 2 * i, 2)) break;
    bytes::WriteU16(r, end, bytes::U16(r, usa + 2 * i));
  }
  std::size_t at = bytes::U16(r, 0x14);
  for (int guard = 0; guard < 256 && bytes::InRange(r.size(), at, 0x18); ++guard) {
    const std::uint32_t type = bytes::U32(r, at), length = bytes::U32(r, at + 4);
    if (type == 0xFFFFFFFF || length == 0) break;
    if (type == 0x60) {
      const std::size_t valueAt = at + bytes::U16(r, at + 0x14);
      const std::size_t valueLength = bytes::U32(r, at + 0x10);
      if (!bytes::InRange(r.size(), valueAt, valueLength)) return std::wstring();
      std::wstring label;
      for (std::size_t i = 0; i + 1 < valueLength; i += 2) {
        label.push_back(static_cast<wchar_t>(bytes::U16(r, valueAt + i)));
      }
      return label;
    }
    if (length > r.size() - at) break;
    at += length;
  }
  return std::wstring();
}

// FAT32: the root directory's chain through the first FAT, masked to 28 bits; the first entry
// that is neither deleted nor a long-name part and whose attributes, archive bit aside, are
// the volume-label bit. A never-used entry ends the directory. Trailing blanks are dropped.
std::optional<std::wstring> Fat32Label(Machine& m, int disk, std::uint64_t offset,
                                       std::span<const std::uint8_t> boot) {
  const std::uint32_t bps = bytes::U16(boot, 0x0B);
  const std::uint32_t spc = boot[0x0D];
  const std::uint32_t reserved = bytes::U16(boot, 0x0E);
  const std::uint32_t fats = boot[0x10];
  const std::uint32_t fatSectors = bytes::U32(boot, 0x24);
  if (bps < 512 || bps > 4096 || spc == 0 || reserved == 0 || fats == 0) return std::nullopt;
  const std::uint64_t dataStart = reserved + static_cast<std::uint64_t>(fats) * fatSectors;
  const std::uint64_t entries = static_cast<std::uint64_t>(fatSectors) * bps / 4;
  std::uint32_t cluster = bytes::U32(boot, 0x2C) & 0x0FFFFFFF;
  std::set<std::uint32_t> seen;
  while (cluster >= 2 && cluster < entries && seen.insert(cluster).second && seen.size() < 65536) {
    const std::vector<std::uint8_t> dir = ReadImageBytes(
        m, disk, offset + (dataStart + static_cast<std::uint64_t>(cluster - 2) * spc) * bps,
        static_cast<std::size_t>(spc) * bps);
    for (std::size_t at = 0; at + 32 <= dir.size(); at += 32) {
      const std::uint8_t first = dir[at], attributes = dir[at + 11];
      if (first == 0x00) return std::wstring();
      if (first == 0xE5 || (attributes & 0x0F) == 0x0F) continue;
      if ((attributes & ~0x20) != 0x08) continue;
      std::string name(reinterpret_cast<const char*>(dir.data() + at), 11);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      return DecodeCodePage(kCp437, name);
    }
    const std::vector<std::uint8_t> next = ReadImageBytes(
        m, disk, offset + static_cast<std::uint64_t>(reserved) * bps + cluster * 4ull, 4);
    cluster = bytes::U32(next, 0) & 0x0FFFFFFF;
  }
  return std::wstring();
}

}  // namespace

bool FormatPartition(Machine& machine, int disk, std::uint64_t offset, std::uint64_t length,
                     const std::string& fs, const std::wstring& label) {
  if (fs == "ntfs" || fs == "bitlocker") {
    return FormatNtfs(machine, disk, offset, length, label, fs == "bitlocker");
  }
  if (fs == "fat32") return FormatFat32(machine, disk, offset, length, label);
  const std::vector<std::uint8_t> zeros(kSectorBytes, 0);
  return WriteSectors(machine, disk, offset, zeros);
}

VolumeInfo ReadVolumeInfo(Machine& machine, int disk, std::uint64_t offset) {
  VolumeInfo info;
  const std::vector<std::uint8_t> boot = ReadImageBytes(machine, disk, offset, kSectorBytes);
  const std::span<const std::uint8_t> b(boot);
  if (bytes::Equals(b, 3, "-FVE-FS-", 8)) {
    info.fs = "BitLocker";
  } else if (bytes::Equals(b, 3, "NTFS    ", 8)) {
    info.label = NtfsLabel(machine, disk, offset, b);
    if (info.label) info.fs = "NTFS";
  } else if (bytes::Equals(b, 0x52, "FAT32   ", 8)) {
    info.label = Fat32Label(machine, disk, offset, b);
    if (info.label) info.fs = "FAT32";
  }
  return info;
}

}  // namespace sim
