#include "sim/disks/gpt.h"

#include <algorithm>
#include <span>

#include "platform/bytes.h"
#include "sim/disks/crc32.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/guid.h"
#include "sim/disks/mbr.h"

namespace sim {

namespace {

// The name Windows' tools give a new partition of this type.
std::string PartitionName(const Guid& type) {
  if (type == ParseGuid(kGptEfiSystem)) return "EFI system partition";
  if (type == ParseGuid(kGptMicrosoftReserved)) return "Microsoft reserved partition";
  return "Basic data partition";
}

bool WriteGptCopy(Machine& machine, int disk, std::uint64_t headerLba, std::uint64_t otherLba,
                  std::uint64_t entriesLba, std::uint64_t firstUsable, std::uint64_t lastUsable,
                  const Guid& diskId, const std::vector<std::uint8_t>& entries) {
  std::uint8_t header[kSectorBytes] = {};
  std::span<std::uint8_t> h(header);
  bytes::WriteBytes(h, 0, "EFI PART", 8);
  bytes::WriteU32(h, 0x08, 0x00010000);  // revision 1.0
  bytes::WriteU32(h, 0x0C, 92);          // header size
  bytes::WriteU64(h, 0x18, headerLba);
  bytes::WriteU64(h, 0x20, otherLba);
  bytes::WriteU64(h, 0x28, firstUsable);
  bytes::WriteU64(h, 0x30, lastUsable);
  bytes::WriteBytes(h, 0x38, diskId.data(), 16);
  bytes::WriteU64(h, 0x48, entriesLba);
  bytes::WriteU32(h, 0x50, 128);
  bytes::WriteU32(h, 0x54, 128);
  bytes::WriteU32(h, 0x58, Crc32(entries.data(), entries.size()));
  bytes::WriteU32(h, 0x10, Crc32(header, 92));
  return WriteImage(machine, disk, entriesLba * kSectorBytes, entries.data(), entries.size()) &&
         WriteImage(machine, disk, headerLba * kSectorBytes, header, kSectorBytes);
}

}  // namespace

void ReadGpt(Machine& machine, int disk, DiskLayout* layout) {
  std::uint8_t header[kSectorBytes] = {};
  std::size_t got = 0;
  ReadImage(machine, disk, kSectorBytes, header, kSectorBytes, &got);
  const std::span<const std::uint8_t> h(header);
  if (!bytes::Equals(h, 0, "EFI PART", 8)) return;  // protective MBR without a GPT: RAW
  // A table placed past the disk's end is damage, not a GPT: the disk reads as RAW.
  if (bytes::U64(h, 0x48) >= DiskBytes(machine, disk) / kSectorBytes) return;
  layout->style = DiskLayout::kGpt;
  std::copy(header + 0x38, header + 0x48, layout->disk_id.begin());
  const std::uint64_t first = bytes::U64(h, 0x28), last = bytes::U64(h, 0x30);
  // Sector numbers whose byte offsets do not fit 64 bits are damage as well.
  constexpr std::uint64_t kLastSector = UINT64_MAX / kSectorBytes - 1;
  layout->first_usable = std::min(first, kLastSector) * kSectorBytes;
  layout->usable_length =
      last >= first
          ? (std::min(last, kLastSector) - std::min(first, kLastSector) + 1) * kSectorBytes
          : 0;
  const std::uint64_t entriesLba = bytes::U64(h, 0x48);
  std::uint32_t count = bytes::U32(h, 0x50);
  const std::uint32_t size = bytes::U32(h, 0x54);
  layout->max_partitions = count;
  if (size < 128 || size > 4096) return;
  count = std::min<std::uint32_t>(count, 1024);  // a table beyond this is damage
  std::vector<std::uint8_t> table(static_cast<std::size_t>(count) * size);
  ReadImage(machine, disk, entriesLba * kSectorBytes, table.data(), table.size(), &got);
  const std::span<const std::uint8_t> t(table.data(), got);
  std::uint32_t number = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(i) * size;
    if (!bytes::InRange(t.size(), at, 128)) break;
    LayoutEntry e;
    std::copy(t.begin() + static_cast<std::ptrdiff_t>(at),
              t.begin() + static_cast<std::ptrdiff_t>(at + 16), e.gpt_type.begin());
    if (e.gpt_type == Guid{}) continue;  // unused entry
    std::copy(t.begin() + static_cast<std::ptrdiff_t>(at + 16),
              t.begin() + static_cast<std::ptrdiff_t>(at + 32), e.gpt_id.begin());
    const std::uint64_t a = bytes::U64(t, at + 32), b = bytes::U64(t, at + 40);
    if (a > kLastSector || b > kLastSector) continue;
    e.offset = a * kSectorBytes;
    e.length = b >= a ? (b - a + 1) * kSectorBytes : 0;
    e.gpt_attributes = bytes::U64(t, at + 48);
    for (std::size_t c = 0; c < 36; ++c) {
      const std::uint16_t unit = bytes::U16(t, at + 56 + 2 * c);
      if (unit == 0) break;
      e.gpt_name.push_back(static_cast<char16_t>(unit));
    }
    e.number = ++number;  // used entries are numbered in entry order
    layout->entries.push_back(e);
  }
}

bool WriteGptTable(Machine& machine, int disk, std::uint64_t sectors,
                   const std::vector<PartitionSpec>& partitions,
                   const std::vector<SectorRange>& placed) {
  std::uint8_t mbr[kSectorBytes] = {};
  std::span<std::uint8_t> m(mbr);
  PutBootSignature(m);
  // Protective MBR, then the table at the front and its copy at the back.
  PutMbrEntry(m, 0, 0xEE, 1, std::min<std::uint64_t>(sectors - 1, 0xFFFFFFFF));
  const std::uint8_t firstChs[3] = {0x00, 0x02, 0x00};
  bytes::WriteBytes(m, 0x1BE + 1, firstChs, 3);
  if (!WriteImage(machine, disk, 0, mbr, kSectorBytes)) return false;
  if (partitions.size() > 128) return false;
  std::vector<std::uint8_t> entries(128 * 128, 0);
  std::span<std::uint8_t> t(entries);
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    const PartitionSpec& p = partitions[i];
    const std::size_t at = i * 128;
    const Guid type =
        p.gpt_type ? *p.gpt_type : ParseGuid(p.fs == "raw" ? kGptMicrosoftReserved : kGptBasicData);
    const Guid id = StableGuid(disk, static_cast<std::uint32_t>(i), 1);
    bytes::WriteBytes(t, at, type.data(), 16);
    bytes::WriteBytes(t, at + 16, id.data(), 16);
    bytes::WriteU64(t, at + 32, placed[i].lba);
    bytes::WriteU64(t, at + 40, placed[i].lba + placed[i].count - 1);
    bytes::WriteU64(t, at + 48, p.gpt_attributes);
    const std::string name = PartitionName(type);
    for (std::size_t c = 0; c < name.size(); ++c) {
      bytes::WriteU16(t, at + 56 + 2 * c, static_cast<std::uint8_t>(name[c]));
    }
  }
  const Guid diskId = StableGuid(disk, 0xFFFF, 2);
  const std::uint64_t last = sectors - 1;
  return WriteGptCopy(machine, disk, 1, last, 2, 34, last - 33, diskId, entries) &&
         WriteGptCopy(machine, disk, last, 1, last - 32, 34, last - 33, diskId, entries);
}

bool WriteGptEntries(Machine& machine, int disk, const DiskLayout& layout) {
  std::size_t got = 0;
  std::uint8_t primary[kSectorBytes] = {};
  ReadImage(machine, disk, kSectorBytes, primary, kSectorBytes, &got);
  const std::span<const std::uint8_t> p(primary);
  const std::uint32_t count = bytes::U32(p, 0x50), size = bytes::U32(p, 0x54);
  if (size < 128 || size > 4096 || count > 1024 || layout.entries.size() > count) return false;
  std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * size, 0);
  std::span<std::uint8_t> t(entries);
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    const LayoutEntry& e = layout.entries[i];
    const std::size_t at = i * size;
    if (e.length < kSectorBytes) return false;
    bytes::WriteBytes(t, at, e.gpt_type.data(), 16);
    bytes::WriteBytes(t, at + 16, e.gpt_id.data(), 16);
    bytes::WriteU64(t, at + 32, e.offset / kSectorBytes);
    bytes::WriteU64(t, at + 40, (e.offset + e.length) / kSectorBytes - 1);
    bytes::WriteU64(t, at + 48, e.gpt_attributes);
    for (std::size_t c = 0; c < e.gpt_name.size() && c < 36; ++c) {
      bytes::WriteU16(t, at + 56 + 2 * c, e.gpt_name[c]);
    }
  }
  const std::uint32_t entriesCrc = Crc32(entries.data(), entries.size());
  // The primary header, then the backup header it names.
  for (const std::uint64_t lba : {std::uint64_t{1}, bytes::U64(p, 0x20)}) {
    std::uint8_t header[kSectorBytes] = {};
    ReadImage(machine, disk, lba * kSectorBytes, header, kSectorBytes, &got);
    std::span<std::uint8_t> h(header);
    const std::uint32_t headerSize = bytes::U32(h, 0x0C);
    if (!bytes::Equals(h, 0, "EFI PART", 8) || headerSize < 92 || headerSize > kSectorBytes) {
      return false;
    }
    bytes::WriteU32(h, 0x58, entriesCrc);
    bytes::WriteU32(h, 0x10, 0);
    bytes::WriteU32(h, 0x10, Crc32(header, headerSize));
    if (!WriteImage(machine, disk, bytes::U64(h, 0x48) * kSectorBytes, entries.data(),
                    entries.size()) ||
        !WriteImage(machine, disk, lba * kSectorBytes, header, kSectorBytes)) {
      return false;
    }
  }
  return true;
}

}  // namespace sim
