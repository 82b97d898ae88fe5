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
