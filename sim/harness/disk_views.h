// The disks of a simulated machine as the account and after.json show them, now and before
// the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// One disk as the account and after.json show it.
struct PartitionView {
  std::uint32_t number = 0;
  std::uint64_t offset = 0, length = 0;
  std::string type;                  // "0x07" on MBR, the type GUID on GPT
  std::string type_name;             // "Basic data", "Intel Rapid Start", ... (empty when unknown)
  std::string fs;                    // "NTFS", "FAT32", "BitLocker", "RAW"
  std::optional<std::string> label;  // UTF-8; nullopt when the file system is not mounted
  std::optional<std::uint64_t> attributes;  // GPT only
  bool operator==(const PartitionView&) const = default;
};
struct DiskView {
  int disk = 0;              // profile index
  std::optional<int> drive;  // physical drive number
  // "device"; "cache device" (hidden from Windows by the storage controller); "data volume" (what
  // the cache leaves of its device, a disk of its own to Windows)
  std::string role;
  std::string style;  // "mbr", "gpt" or "raw" (no partition table)
  std::uint64_t bytes = 0;
  std::vector<PartitionView> partitions;
  bool operator==(const DiskView&) const = default;
};

// Every disk of the machine as its image holds it now (a deleted data volume is no disk).
std::vector<DiskView> ViewDisks(Machine& machine);
// Keeps the disks as they are now as the "before" picture (RunProduct does it at its start).
void SnapshotDisks(Machine& machine);
// The "before" picture, or nullptr when none was taken.
const std::vector<DiskView>* DisksBefore(Machine& machine);

}  // namespace sim
