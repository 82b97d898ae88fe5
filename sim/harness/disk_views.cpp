#include "sim/harness/disk_views.h"

#include <utility>

#include "sim/core/text.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"

namespace sim {

namespace {

struct DisksBeforeState : Machine::State {
  bool taken = false;
  std::vector<DiskView> disks;
};

std::string TypeName(const std::string& type) {
  static const std::pair<const char*, const char*> kNames[] = {
      {kGptBasicData, "Basic data"},
      {kGptMicrosoftReserved, "Microsoft reserved"},
      {kGptEfiSystem, "EFI system"},
      {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
      {"D3BFE2DE-3DAF-11DF-BA40-E3A556D89593", "Intel Rapid Start"},
      {"0x07", "NTFS/exFAT"},
      {"0x0B", "FAT32"},
      {"0x0C", "FAT32 (LBA)"},
      {"0x27", "Windows recovery"},
      {"0x84", "Intel Rapid Start"},
  };
  for (const auto& [code, name] : kNames) {
    if (type == code) return name;
  }
  return std::string();
}

}  // namespace

std::vector<DiskView> ViewDisks(Machine& machine) {
  std::vector<DiskView> views;
  for (std::size_t i = 0; i < machine.profile().disks.size(); ++i) {
    const int disk = static_cast<int>(i);
    const DiskRole role = machine.profile().disks[i].role;
    if (role == DiskRole::kDeletedVolume) continue;
    DiskView v;
    v.disk = disk;
    v.drive = machine.profile().disks[i].drive;
    v.role = role == DiskRole::kCacheDevice  ? "cache device"
             : role == DiskRole::kDataVolume ? "data volume"
             : role == DiskRole::kLateVolume ? "data volume (not up yet)"
                                             : "device";
    v.bytes = DiskBytes(machine, disk);
    const DiskLayout layout = ReadDiskLayout(machine, disk);
    v.style = layout.style == DiskLayout::kGpt   ? "gpt"
              : layout.style == DiskLayout::kMbr ? "mbr"
                                                 : "raw";
    for (const PartitionSummary& s : ListPartitions(machine, disk)) {
      PartitionView p;
      p.number = s.number;
      p.offset = s.offset;
      p.length = s.length;
      p.type = s.type;
      p.type_name = TypeName(s.type);
      p.fs = s.volume.fs;
      if (s.volume.label) p.label = ToUtf8(*s.volume.label);
      if (layout.style == DiskLayout::kGpt) {
        for (const LayoutEntry& e : layout.entries) {
          if (e.number == s.number) p.attributes = e.gpt_attributes;
        }
      }
      v.partitions.push_back(p);
    }
    views.push_back(v);
  }
  return views;
}

void SnapshotDisks(Machine& machine) {
  DisksBeforeState& state = machine.state<DisksBeforeState>();
  state.disks = ViewDisks(machine);
  state.taken = true;
}

const std::vector<DiskView>* DisksBefore(Machine& machine) {
  DisksBeforeState& state = machine.state<DisksBeforeState>();
  return state.taken ? &state.disks : nullptr;
}

}  // namespace sim
