#include "sim/disks/mbr.h"

#include <cstring>
#include <set>

#include "platform/bytes.h"
#include "sim/disks/disk_image.h"

namespace sim {

namespace {

bool IsContainerType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

LayoutEntry MbrEntry(std::span<const std::uint8_t> sector, int slot, std::uint64_t base) {
  const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
  LayoutEntry e;
  e.boot_indicator = sector[at] == 0x80;
  e.mbr_type = sector[at + 4];
  const std::uint32_t start = bytes::U32(sector, at + 8);  // LBA, relative
  const std::uint32_t count = bytes::U32(sector, at + 12);
  if (e.mbr_type != 0) {
    e.offset = (base + start) * kSectorBytes;
    e.length = static_cast<std::uint64_t>(count) * kSectorBytes;
    e.hidden_sectors = start;
  }
  e.recognized = IsRecognizedMbrType(e.mbr_type);
  return e;
}

}  // namespace

bool IsRecognizedMbrType(std::uint8_t type) {
  // FAT12, FAT16, HUGE, IFS, FAT32, FAT32 (XINT13), XINT13; with the NTFT bit all but FAT16.
  const auto plain = [](std::uint8_t t) {
    return t == 0x01 || t == 0x06 || t == 0x07 || t == 0x0B || t == 0x0C || t == 0x0E;
  };
  if (plain(type) || type == 0x04) return true;
  return (type & 0x80) != 0 && plain(static_cast<std::uint8_t>(type & ~0xC0));
}

void PutBootSignature(std::span<std::uint8_t> sector) {
  bytes::WriteU8(sector, 510, 0x55);
  bytes::WriteU8(sector, 511, 0xAA);
}

void PutMbrEntry(std::span<std::uint8_t> sector, int slot, std::uint8_t type, std::uint64_t lba,
                 std::uint64_t sectors) {
  const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
  // CHS fields hold the "beyond 8 GB" values that LBA-only tables carry.
  const std::uint8_t chs[3] = {0xFE, 0xFF, 0xFF};
  bytes::WriteBytes(sector, at + 1, chs, 3);
  bytes::WriteU8(sector, at + 4, type);
  bytes::WriteBytes(sector, at + 5, chs, 3);
  bytes::WriteU32(sector, at + 8, static_cast<std::uint32_t>(lba));
  bytes::WriteU32(sector, at + 12, static_cast<std::uint32_t>(sectors));
}

void ReadMbr(Machine& machine, int disk, std::span<const std::uint8_t> m, DiskLayout* layout) {
  std::size_t got = 0;
  layout->style = DiskLayout::kMbr;
  layout->mbr_signature = bytes::U32(m, 0x1B8);
  std::uint32_t number = 0;
  std::uint64_t extendedLba = 0;
  for (int slot = 0; slot < 4; ++slot) {
    LayoutEntry e = MbrEntry(m, slot, 0);
    if (e.mbr_type != 0 && !IsContainerType(e.mbr_type)) e.number = ++number;
    if (IsContainerType(e.mbr_type) && extendedLba == 0) extendedLba = e.offset / kSectorBytes;
    layout->entries.push_back(e);
  }
  // The chain of extended boot records: each holds a logical partition (relative to itself)
  // and a link to the next (relative to the extended partition). Bounded against loops.
  std::set<std::uint64_t> seen;
  std::uint64_t ebr = extendedLba;
  while (ebr != 0 && seen.insert(ebr).second && seen.size() <= 128) {
    std::uint8_t sector[kSectorBytes] = {};
    ReadImage(machine, disk, ebr * kSectorBytes, sector, kSectorBytes, &got);
    const std::span<const std::uint8_t> s(sector);
    if (sector[510] != 0x55 || sector[511] != 0xAA) break;
    std::uint64_t next = 0;
    for (int slot = 0; slot < 4; ++slot) {
      const bool link = IsContainerType(sector[0x1BE + slot * 16 + 4]);
      LayoutEntry e = MbrEntry(s, slot, link ? extendedLba : ebr);
      if (link) {
        if (next == 0) next = e.offset / kSectorBytes;
      } else if (e.mbr_type != 0) {
        e.number = ++number;
      }
      layout->entries.push_back(e);
    }
    ebr = next;
  }
}

bool WriteMbrTable(Machine& machine, int disk, const std::vector<PartitionSpec>& partitions,
                   std::vector<SectorRange>* ranges) {
  std::vector<SectorRange>& placed = *ranges;
  std::uint8_t mbr[kSectorBytes] = {};
  std::span<std::uint8_t> m(mbr);
  PutBootSignature(m);
  const std::uint32_t signature = 0x1000000u * static_cast<std::uint32_t>(disk + 1) + 0x5A17;
  bytes::WriteU32(m, 0x1B8, signature);
  const std::size_t primaries = partitions.size() <= 4 ? partitions.size() : 3;
  auto mbrType = [](const PartitionSpec& p) -> std::uint8_t {
    return p.mbr_type ? *p.mbr_type : p.fs == "fat32" ? 0x0C : 0x07;
  };
  for (std::size_t i = 0; i < primaries; ++i) {
    if (placed[i].lba + placed[i].count > 0xFFFFFFFFull) return false;
    PutMbrEntry(m, static_cast<int>(i), mbrType(partitions[i]), placed[i].lba, placed[i].count);
  }
  if (partitions.size() > 4) {
    const std::uint64_t extStart = placed[3].lba;
    const std::uint64_t extEnd = placed.back().lba + placed.back().count;
    if (extEnd > 0xFFFFFFFFull) return false;
    PutMbrEntry(m, 3, 0x0F, extStart, extEnd - extStart);
    for (std::size_t i = 3; i < partitions.size(); ++i) {
      // The logical's own region begins with its extended boot record.
      const std::uint64_t gap = placed[i].count >= 4096 ? 2048 : 1;
      std::uint8_t ebr[kSectorBytes] = {};
      std::span<std::uint8_t> e(ebr);
      PutBootSignature(e);
      PutMbrEntry(e, 0, mbrType(partitions[i]), gap, placed[i].count - gap);
      if (i + 1 < partitions.size()) {
        PutMbrEntry(e, 1, 0x05, placed[i + 1].lba - extStart, placed[i + 1].count);
      }
      if (!WriteImage(machine, disk, placed[i].lba * kSectorBytes, ebr, kSectorBytes)) return false;
      placed[i].lba += gap;
      placed[i].count -= gap;
    }
  }
  return WriteImage(machine, disk, 0, mbr, kSectorBytes);
}

bool WriteMbrSlots(Machine& machine, int disk, const DiskLayout& layout) {
  std::size_t got = 0;
  std::uint8_t mbr[kSectorBytes] = {};
  ReadImage(machine, disk, 0, mbr, kSectorBytes, &got);
  std::span<std::uint8_t> m(mbr);
  for (int slot = 0; slot < 4; ++slot) {
    const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
    const LayoutEntry* e =
        static_cast<std::size_t>(slot) < layout.entries.size() ? &layout.entries[slot] : nullptr;
    if (e == nullptr || e->mbr_type == 0) {
      std::memset(mbr + at, 0, 16);
      continue;
    }
    const std::uint64_t lba = e->offset / kSectorBytes, count = e->length / kSectorBytes;
    if (lba + count > 0xFFFFFFFFull) return false;
    PutMbrEntry(m, slot, e->mbr_type, lba, count);
    bytes::WriteU8(m, at, e->boot_indicator ? 0x80 : 0x00);
  }
  return WriteImage(machine, disk, 0, mbr, kSectorBytes);
}

}  // namespace sim
