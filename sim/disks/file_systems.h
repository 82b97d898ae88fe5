// The file systems the simulator writes into partitions (NTFS, FAT32, BitLocker-marked) and
// reads back as Windows' drivers do for a volume's label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/core/machine.h"

namespace sim {

// Writes a file system over [offset, offset + length) of the disk: what `fs` names, with
// `label` (FAT32: cut to 11 OEM bytes). "raw" clears the first sector.
bool FormatPartition(Machine& machine, int disk, std::uint64_t offset, std::uint64_t length,
                     const std::string& fs, const std::wstring& label);

// The file system at an offset, as Windows' drivers see it: "NTFS", "FAT32", "BitLocker" or
// "RAW", and its label (nullopt when the file system is not mounted: BitLocker, RAW).
struct VolumeInfo {
  std::string fs = "RAW";
  std::optional<std::wstring> label;
};
VolumeInfo ReadVolumeInfo(Machine& machine, int disk, std::uint64_t offset);

}  // namespace sim
