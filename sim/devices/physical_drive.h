// The simulated physical drives "\\.\PHYSICALDRIVEn": one per profile disk whose `drive` is n.
// The drive object hands SMART requests to sim/smart.cpp and storage requests and raw reads to
// sim/drive_image.cpp.
#pragma once

#include <cstdint>

#include "sim/core/machine.h"

namespace sim {

// Index into profile().disks of the disk behind physical drive n, or -1.
int FindDriveDisk(const Machine& machine, int drive);

// SMART_GET_VERSION and SMART_RCV_DRIVE_DATA on a disk (sim/smart.cpp).
bool SmartIoctl(Machine& machine, int disk, std::uint32_t code, const void* in,
                std::uint32_t inSize, void* out, std::uint32_t outSize, std::uint32_t* returned,
                std::uint32_t* error);
// Storage and disk requests such as IOCTL_DISK_GET_DRIVE_LAYOUT_EX (sim/drive_image.cpp).
bool DiskIoctl(Machine& machine, int disk, std::uint32_t code, const void* in,
               std::uint32_t inSize, void* out, std::uint32_t outSize, std::uint32_t* returned,
               std::uint32_t* error);
// A raw read of the disk's bytes at an absolute offset (sim/drive_image.cpp).
bool ReadDisk(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read, std::uint32_t* error);
// The size of the disk in bytes (sim/drive_image.cpp).
std::uint64_t DiskBytes(Machine& machine, int disk);

// Registers the physical-drive opener with the machine (called at machine set-up).
void SetUpPhysicalDrives(Machine& machine);

}  // namespace sim
