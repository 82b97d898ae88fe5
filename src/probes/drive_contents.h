// What a physical drive holds, read as the recovery locator reads it: the layout's partitions,
// each with its type and the volume label its file system carries. The checks before a disk is
// cleaned, and the choice of the cache's data volume, look at a disk's contents through this.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probes/drive_layout.h"

struct DrivePartition {
  std::uint32_t number = 0;                                      // PartitionNumber
  std::uint64_t start = 0;                                       // StartingOffset
  std::uint8_t mbrType = 0;                                      // on an MBR layout
  std::array<std::uint8_t, drive_layout::kGuidBytes> gptType{};  // on a GPT layout
  std::wstring label;  // empty: none, or none could be read (BitLocker, an unknown file system)
};

struct DriveContents {
  std::uint32_t style = drive_layout::kStyleRaw;
  std::vector<DrivePartition> partitions;  // the layout's used entries, in its order
};

// Opens "\\.\PHYSICALDRIVEn" for reading and reads its layout and each partition's label.
// nullopt when the drive does not open or its layout cannot be read.
std::optional<DriveContents> ReadDriveContents(std::uint32_t driveNumber);

// What a partition is to the product, by its type (and, for the IntelRST partition, its label).
enum class PartitionKind { kOther, kEfiSystem, kWindowsRecovery, kIntelRst };
PartitionKind KindOfPartition(std::uint32_t style, const DrivePartition& partition);

// "EFI system partition", "Windows recovery partition", "IntelRST partition", "partition".
const wchar_t* PartitionKindName(PartitionKind kind);
