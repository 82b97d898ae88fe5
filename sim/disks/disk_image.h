// The bytes behind the simulated drives: one disk image per profile disk.
//
// - a disk with `image`: the file named by the profile, opened read-only; writes go to a
//   sparse overlay in the run folder (<root>/disks/diskN.img, N the profile index), so the
//   original is never changed;
// - a disk with `size_mb`: a sparse file <root>/disks/diskN.img laid out by the simulator
//   from `style` and `partitions` (sim/disks/partition_table.h), on first use. Only what is
//   written costs space.
//
// Every function takes the profile index of the disk (not its drive number).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint64_t kMiB = 1024 * 1024;

// Raw access to a disk image, without faults or alignment rules. Reads past the end give fewer
// bytes; writes past the end fail.
bool ReadImage(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::size_t size,
               std::size_t* read);
bool WriteImage(Machine& machine, int disk, std::uint64_t offset, const void* data,
                std::size_t size);
// Up to `size` bytes from `offset` (fewer at the end of the image).
std::vector<std::uint8_t> ReadImageBytes(Machine& machine, int disk, std::uint64_t offset,
                                         std::size_t size);
// The host file that holds the disk's bytes now: the profile's image while nothing has been
// written to it, else the overlay.
std::filesystem::path DiskImagePath(Machine& machine, int disk);
// The size of the disk in bytes.
std::uint64_t DiskBytes(Machine& machine, int disk);
// Writes the disk's bytes as they are now to the host file `to`, an image of its own: holes stay
// holes (a sparse file where the host allows), an overlay is folded in, the original is left as
// it is.
bool CopyDiskImage(Machine& machine, int disk, const std::filesystem::path& to);

}  // namespace sim
