#include "probes/disk_extents.h"

#include <algorithm>

#include "platform/bytes.h"
#include "probes/control_codes.h"

using namespace disk_extents;

std::vector<DiskExtent> DecodeDiskExtents(std::span<const std::uint8_t> returned) {
  std::vector<DiskExtent> extents;
  const std::uint32_t count = bytes::U32(returned, kNumberOfDiskExtents);
  // The walk ends at the first extent past the bytes, so a count of billions costs nothing.
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kExtents + static_cast<std::size_t>(i) * kExtentBytes;
    if (!bytes::InRange(returned.size(), at, kExtentBytes)) break;
    const std::span<const std::uint8_t> extent = returned.subspan(at, kExtentBytes);
    extents.push_back(DiskExtent{bytes::U32(extent, kExtentDiskNumber),
                                 bytes::U64(extent, kExtentStartingOffset),
                                 bytes::U64(extent, kExtentLength)});
  }
  return extents;
}

std::optional<std::vector<DiskExtent>> QueryDiskExtents(os::RawHandle volume) {
  std::vector<std::uint8_t> buffer(kBufferBytes, 0);
  std::uint32_t returned = 0;
  if (!os::DeviceIoControl(volume, control_codes::kIoctlVolumeGetVolumeDiskExtents, nullptr, 0,
                           buffer.data(), kBufferBytes, &returned)) {
    return std::nullopt;
  }
  // Only what the call returned is looked at.
  return DecodeDiskExtents(
      std::span<const std::uint8_t>(buffer).first(std::min<std::size_t>(returned, buffer.size())));
}
