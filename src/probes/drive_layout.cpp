#include "probes/drive_layout.h"

#include <algorithm>

#include "platform/bytes.h"
#include "probes/control_codes.h"

using namespace drive_layout;

DriveLayout DecodeDriveLayout(std::span<const std::uint8_t> returned) {
  DriveLayout layout;
  layout.style = bytes::U32(returned, kPartitionStyle);
  const std::uint32_t count = bytes::U32(returned, kPartitionCount);
  // The walk ends at the first entry past the bytes, so a count of billions costs nothing.
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kPartitionEntry + static_cast<std::size_t>(i) * kEntryBytes;
    if (!bytes::InRange(returned.size(), at, kEntryBytes)) break;
    const std::span<const std::uint8_t> entry = returned.subspan(at, kEntryBytes);
    DriveLayoutEntry e;
    e.start = bytes::U64(entry, kEntryStartingOffset);
    e.length = bytes::U64(entry, kEntryPartitionLength);
    e.number = bytes::U32(entry, kEntryPartitionNumber);
    if (layout.style == kStyleMbr) {
      std::uint8_t recognized = 0;
      bytes::ReadU8(entry, kEntryMbrPartitionType, &e.mbrType);
      bytes::ReadU8(entry, kEntryMbrRecognizedPartition, &recognized);
      e.recognized = recognized != 0;
    } else if (layout.style == kStyleGpt) {
      std::copy_n(entry.begin() + kEntryGptPartitionType, kGuidBytes, e.gptType.begin());
    }
    layout.entries.push_back(e);
  }
  return layout;
}

std::optional<DriveLayout> QueryDriveLayout(os::RawHandle drive) {
  std::vector<std::uint8_t> buffer(kBufferBytes, 0);
  std::uint32_t returned = 0;
  if (!os::DeviceIoControl(drive, control_codes::kIoctlDiskGetDriveLayoutEx, nullptr, 0,
                           buffer.data(), kBufferBytes, &returned)) {
    return std::nullopt;
  }
  // Only what the call returned is looked at.
  return DecodeDriveLayout(
      std::span<const std::uint8_t>(buffer).first(std::min<std::size_t>(returned, buffer.size())));
}
