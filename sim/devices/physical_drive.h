// The simulated physical drives "\\.\PHYSICALDRIVEn": one per disk Windows sees whose `drive` is n.
// The drive object reads the disk image (sim/disks/disk_image.h) and hands SMART requests to
// sim/devices/smart.h and disk requests to sim/devices/disk_control.h.
#pragma once

#include <cstdint>

#include "sim/core/machine.h"

namespace sim {

// Index into profile().disks of the disk Windows sees as physical drive n, or -1.
int FindDriveDisk(const Machine& machine, int drive);

// A raw read of the disk's bytes at an absolute offset, as the product's reads through the
// drive make it: whole sectors only, failed by the fault "ReadFile:n" (every read) or
// "ReadFile:n@s" (the reads that include sector s).
bool ReadDisk(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read, std::uint32_t* error);

// Bytes the product has read from all physical drives of the machine (ReadDisk).
std::uint64_t DiskBytesReadByProduct(Machine& machine);

// Registers the physical-drive opener with the machine (called at machine set-up).
void SetUpPhysicalDrives(Machine& machine);

}  // namespace sim
