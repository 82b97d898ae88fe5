// VOLUME_DISK_EXTENTS, the answer to IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: where a volume lies
// on the physical drives. The offsets of its fields and the one decoder that reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/os.h"

namespace disk_extents {

// VOLUME_DISK_EXTENTS.
inline constexpr std::size_t kNumberOfDiskExtents = 0x00;  // u32
inline constexpr std::size_t kExtents = 0x08;              // the first DISK_EXTENT

// DISK_EXTENT, kExtentBytes apart from kExtents on.
inline constexpr std::size_t kExtentBytes = 24;
inline constexpr std::size_t kExtentDiskNumber = 0x00;      // u32
inline constexpr std::size_t kExtentStartingOffset = 0x08;  // i64
inline constexpr std::size_t kExtentLength = 0x10;          // i64

// The query's output buffer: room for 101 extents.
inline constexpr std::uint32_t kBufferBytes = kExtents + 101 * kExtentBytes;
static_assert(kBufferBytes == 2432);

}  // namespace disk_extents

struct DiskExtent {
  std::uint32_t disk = 0;    // DiskNumber: the physical drive's number
  std::uint64_t start = 0;   // StartingOffset
  std::uint64_t length = 0;  // ExtentLength
};

// Decodes the bytes the query returned: the extents up to the count that lie wholly inside
// them.
std::vector<DiskExtent> DecodeDiskExtents(std::span<const std::uint8_t> returned);

// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS on an open volume with a kBufferBytes buffer, decoded over
// the bytes it returned. nullopt when the call fails.
std::optional<std::vector<DiskExtent>> QueryDiskExtents(os::RawHandle volume);
