// The simulated volumes: drive letters mapped to partitions of the simulated disks.
//
// Letters come from the profile: `partitions[].letter` on a disk the simulator lays out, and
// the `letters` map (letter -> partition number) on an image disk. Disks that are no physical
// drive (`drive: null`) carry no volumes. The first disk in profile order that claims a letter
// keeps it. C: always exists, because the simulated Windows lives there: when no partition
// claims it, it is a volume of the host folder with an empty label and no disk extents.
//
// The seam's GetVolumeInformationW (sim/backend/base.cpp) reads the label from the file system
// on the disk image, the way Windows' drivers read it (not from the profile); "\\.\X:" opens
// the volume, whose IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS gives one extent: the drive number,
// the partition's starting offset and length. Faults: "GetLogicalDriveStringsW",
// "VolumeDiskExtents:X".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

struct Volume {
  wchar_t letter = 0;
  int disk = -1;  // profile index; -1: the host folder's C:
  std::uint32_t partition_number = 0;
  std::uint64_t offset = 0, length = 0;
};

// The machine's volumes in letter order.
std::vector<Volume> ListVolumes(Machine& machine);

// The volume of a root "X:\" (or "X:") in any letter case, or nullptr.
const Volume* FindVolume(const std::vector<Volume>& volumes, const std::wstring& root);

// Whether `path` ("D:\pagefile.sys", any letter case) names one of the profile's volume_files
// at the root of a volume a disk holds now.
bool FindVolumeFile(Machine& machine, const std::wstring& path);

// Registers the "\\.\X:" opener (called at machine set-up).
void SetUpVolumes(Machine& machine);

}  // namespace sim
