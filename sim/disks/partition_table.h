// The partition tables of the disk images: MBR (with its chain of extended boot records) and
// GPT, read as Windows reads them and written as Windows' tools write them. The byte layouts
// are in sim/disks/mbr.h and sim/disks/gpt.h; this is what the rest of the simulator uses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/machine.h"
#include "sim/disks/file_systems.h"
#include "sim/disks/guid.h"

namespace sim {

// One PARTITION_INFORMATION_EX as Windows reports it for the disk's table.
struct LayoutEntry {
  std::uint64_t offset = 0;  // bytes from the start of the disk
  std::uint64_t length = 0;
  std::uint32_t number = 0;  // PartitionNumber (MBR: 0 for empty slots and containers)
  // MBR
  std::uint8_t mbr_type = 0;
  bool boot_indicator = false;
  bool recognized = false;  // RecognizedPartition
  std::uint32_t hidden_sectors = 0;
  // GPT
  Guid gpt_type{};
  Guid gpt_id{};
  std::uint64_t gpt_attributes = 0;
  std::u16string gpt_name;
};

struct DiskLayout {
  enum Style : std::uint32_t { kMbr = 0, kGpt = 1, kRaw = 2 };
  Style style = kRaw;
  std::uint32_t mbr_signature = 0;
  Guid disk_id{};
  std::uint64_t first_usable = 0;  // bytes
  std::uint64_t usable_length = 0;
  std::uint32_t max_partitions = 0;
  // MBR: four entries per table (the MBR, then each extended boot record), the way Windows
  // lists them; GPT: every used entry, in entry order.
  std::vector<LayoutEntry> entries;
};

// The layout read from the disk's own table (a disk without a valid table is kRaw).
DiskLayout ReadDiskLayout(Machine& machine, int disk);

// A partition to lay out: what it holds and how large it is.
struct PartitionSpec {
  std::string fs = "raw";  // "ntfs", "fat32", "bitlocker" (NTFS marked as encrypted), "raw"
  std::wstring label;
  std::uint64_t bytes = 0;
  std::optional<Guid> gpt_type;          // default: basic data (raw: Microsoft reserved)
  std::optional<std::uint8_t> mbr_type;  // default: 0x07 (fat32: 0x0C)
  std::uint64_t gpt_attributes = 0;
};

// Rewrites the disk's partition table from scratch ("mbr", "gpt", or "" for none), with the
// partitions placed one after another from 1 MiB on, and writes their file systems. On MBR,
// a fifth partition and those after it become logical partitions in an extended partition
// that fills the fourth slot; each logical gives its first MiB (or, when smaller than 2 MiB,
// its first sector) to its extended boot record. Returns false when they do not fit.
bool LayOutDisk(Machine& machine, int disk, const std::string& style,
                const std::vector<PartitionSpec>& partitions);

// Rewrites the entries of the disk's existing table from `layout` (as ReadDiskLayout gave it,
// with entries changed, added or removed), leaving everything else of the disk alone: on GPT
// the used entries are written in order into both copies of the entry array and both headers'
// checksums are renewed; on MBR the four slots of the MBR itself are written (entries[0..3],
// type 0 for an empty slot; extended boot records are not touched). Returns false when the
// disk has no table of that style or the entries do not fit it.
bool WritePartitionTable(Machine& machine, int disk, const DiskLayout& layout);

// For after.json and the account: the partitions that hold something (MBR containers and empty
// slots left out), with their file system and label.
struct PartitionSummary {
  std::uint32_t number = 0;
  std::uint64_t offset = 0, length = 0;
  std::string type;  // "0x07" on MBR, the type GUID on GPT
  VolumeInfo volume;
};
std::vector<PartitionSummary> ListPartitions(Machine& machine, int disk);

// Where a partition being laid out lies, in sectors.
struct SectorRange {
  std::uint64_t lba = 0, count = 0;
};

}  // namespace sim
