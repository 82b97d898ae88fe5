// The disk requests a physical drive answers (IOCTL_DISK_GET_DRIVE_LAYOUT_EX,
// IOCTL_DISK_GET_LENGTH_INFO), with the partition table in Windows' layout structure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/core/machine.h"
#include "sim/disks/partition_table.h"

namespace sim {

// A disk request on profile disk `disk`; false with *error set when it fails.
bool DiskIoctl(Machine& machine, int disk, std::uint32_t code, const void* in, std::uint32_t inSize,
               void* out, std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error);

// DRIVE_LAYOUT_INFORMATION_EX bytes for a layout; empty when it needs more than `capacity`.
std::vector<std::uint8_t> EncodeDriveLayout(const DiskLayout& layout, std::size_t capacity);

}  // namespace sim
