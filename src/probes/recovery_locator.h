// Finds the physical drive that holds the partition labelled "Recovery", and the drive letter
// it is mounted under, if any. Result codes: see probes/volume_label.h.
#pragma once

#include <cstdint>
#include <string>

#include "probes/volume_label.h"

// Walks "\\.\PHYSICALDRIVE0" upwards to the first drive that does not open. On 0,
// *nDiskNumber and *nPartitionNumber name the first partition labelled "Recovery" (any
// letter case) and *szDriveRoot holds its root ("D:\") or is empty. Returns 0, 4 or 5.
std::int32_t LocateRecoveryDisk(std::int32_t* nDiskNumber, std::int32_t* nPartitionNumber,
                                std::wstring* szDriveRoot);

// Finds the drive root whose volume is labelled "Recovery" and has an extent on disk
// `nDiskNumber` starting at `llStartingOffset`. Returns 0 (root copied), 4 (root emptied) or 5
// (root left as it was).
std::int32_t FindRecoveryDriveRoot(std::int32_t nDiskNumber, std::wstring* szDriveRoot,
                                   std::int64_t llStartingOffset);

// Windows' control codes and output buffer sizes the locator uses.
inline constexpr std::uint32_t kIoctlDiskGetDriveLayoutEx = 0x00070050;
inline constexpr std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
// DRIVE_LAYOUT_INFORMATION_EX with room for 101 PARTITION_INFORMATION_EX entries.
inline constexpr std::uint32_t kDriveLayoutHeaderBytes = 48;
inline constexpr std::uint32_t kPartitionEntryBytes = 144;
inline constexpr std::uint32_t kDriveLayoutBufferBytes = 14592;
// VOLUME_DISK_EXTENTS with room for 101 DISK_EXTENT entries.
inline constexpr std::uint32_t kDiskExtentsHeaderBytes = 8;
inline constexpr std::uint32_t kDiskExtentBytes = 24;
inline constexpr std::uint32_t kDiskExtentsBufferBytes = 2432;
static_assert(kDriveLayoutHeaderBytes + 101 * kPartitionEntryBytes == kDriveLayoutBufferBytes);
static_assert(kDiskExtentsHeaderBytes + 101 * kDiskExtentBytes == kDiskExtentsBufferBytes);
