#include "sim/disks/partition_table.h"

#include <cstdio>
#include <span>

#include "sim/disks/disk_image.h"
#include "sim/disks/gpt.h"
#include "sim/disks/mbr.h"

namespace sim {

DiskLayout ReadDiskLayout(Machine& machine, int disk) {
  DiskLayout layout;
  std::uint8_t mbr[kSectorBytes] = {};
  std::size_t got = 0;
  ReadImage(machine, disk, 0, mbr, kSectorBytes, &got);
  const std::span<const std::uint8_t> m(mbr);
  if (got < kSectorBytes || mbr[510] != 0x55 || mbr[511] != 0xAA) return layout;
  for (int slot = 0; slot < 4; ++slot) {
    if (mbr[0x1BE + slot * 16 + 4] == 0xEE) {
      ReadGpt(machine, disk, &layout);
      return layout;
    }
  }
  ReadMbr(machine, disk, m, &layout);
  return layout;
}

bool LayOutDisk(Machine& machine, int disk, const std::string& style,
                const std::vector<PartitionSpec>& partitions) {
  const std::uint64_t size = DiskBytes(machine, disk);
  const std::uint64_t sectors = size / kSectorBytes;
  std::uint64_t total = 0;
  for (const PartitionSpec& p : partitions) total += (p.bytes + kSectorBytes - 1) / kSectorBytes;
  if (sectors < 2 * 2048 || total > sectors - 2 * 2048) return false;  // 1 MiB kept at each end
  // Clear the old tables: the first MiB and the last MiB.
  const std::vector<std::uint8_t> zeros(kMiB, 0);
  WriteImage(machine, disk, 0, zeros.data(), zeros.size());
  WriteImage(machine, disk, size - kMiB, zeros.data(), zeros.size());
  if (style != "mbr" && style != "gpt") return partitions.empty();

  std::vector<SectorRange> placed;
  std::uint64_t lba = 2048;
  for (const PartitionSpec& p : partitions) {
    const std::uint64_t count = (p.bytes + kSectorBytes - 1) / kSectorBytes;
    placed.push_back({lba, count});
    lba += count;
  }

  const bool written = style == "gpt" ? WriteGptTable(machine, disk, sectors, partitions, placed)
                                      : WriteMbrTable(machine, disk, partitions, &placed);
  if (!written) return false;
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    if (!FormatPartition(machine, disk, placed[i].lba * kSectorBytes,
                         placed[i].count * kSectorBytes, partitions[i].fs, partitions[i].label)) {
      return false;
    }
  }
  return true;
}

bool WritePartitionTable(Machine& machine, int disk, const DiskLayout& layout) {
  if (layout.style != ReadDiskLayout(machine, disk).style) return false;
  if (layout.style == DiskLayout::kMbr) return WriteMbrSlots(machine, disk, layout);
  if (layout.style != DiskLayout::kGpt) return false;
  return WriteGptEntries(machine, disk, layout);
}

std::vector<PartitionSummary> ListPartitions(Machine& machine, int disk) {
  std::vector<PartitionSummary> out;
  const DiskLayout layout = ReadDiskLayout(machine, disk);
  for (const LayoutEntry& e : layout.entries) {
    if (e.number == 0) continue;
    PartitionSummary s;
    s.number = e.number;
    s.offset = e.offset;
    s.length = e.length;
    if (layout.style == DiskLayout::kGpt) {
      s.type = GuidText(e.gpt_type);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "0x%02X", e.mbr_type);
      s.type = hex;
    }
    s.volume = ReadVolumeInfo(machine, disk, e.offset);
    out.push_back(s);
  }
  return out;
}

}  // namespace sim
