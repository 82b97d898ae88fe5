#include "sim/devices/disk_control.h"

#include <cstring>
#include <span>
#include <string>

#include "platform/bytes.h"
#include "sim/devices/windows_codes.h"
#include "sim/disks/disk_image.h"

namespace sim {

std::vector<std::uint8_t> EncodeDriveLayout(const DiskLayout& layout, std::size_t capacity) {
  const std::size_t need =
      kDriveLayoutHeaderSize + layout.entries.size() * kPartitionInformationExSize;
  if (need > capacity) return {};
  std::vector<std::uint8_t> out(need, 0);
  std::span<std::uint8_t> o(out);
  bytes::WriteU32(o, 0x00, layout.style);                                       // PartitionStyle
  bytes::WriteU32(o, 0x04, static_cast<std::uint32_t>(layout.entries.size()));  // PartitionCount
  if (layout.style == DiskLayout::kMbr) {
    bytes::WriteU32(o, 0x08, layout.mbr_signature);  // Mbr.Signature
  } else if (layout.style == DiskLayout::kGpt) {
    bytes::WriteBytes(o, 0x08, layout.disk_id.data(), 16);  // Gpt.DiskId
    bytes::WriteU64(o, 0x18, layout.first_usable);          // Gpt.StartingUsableOffset
    bytes::WriteU64(o, 0x20, layout.usable_length);         // Gpt.UsableLength
    bytes::WriteU32(o, 0x28, layout.max_partitions);        // Gpt.MaxPartitionCount
  }
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    const LayoutEntry& e = layout.entries[i];
    const std::size_t at = kDriveLayoutHeaderSize + i * kPartitionInformationExSize;
    bytes::WriteU32(o, at + 0x00, layout.style);  // PartitionStyle
    bytes::WriteU64(o, at + 0x08, e.offset);      // StartingOffset
    bytes::WriteU64(o, at + 0x10, e.length);      // PartitionLength
    bytes::WriteU32(o, at + 0x18, e.number);      // PartitionNumber
    if (layout.style == DiskLayout::kMbr) {
      bytes::WriteU8(o, at + 0x20, e.mbr_type);                // Mbr.PartitionType
      bytes::WriteU8(o, at + 0x21, e.boot_indicator ? 1 : 0);  // Mbr.BootIndicator
      bytes::WriteU8(o, at + 0x22, e.recognized ? 1 : 0);      // Mbr.RecognizedPartition
      bytes::WriteU32(o, at + 0x24, e.hidden_sectors);         // Mbr.HiddenSectors
    } else if (layout.style == DiskLayout::kGpt) {
      bytes::WriteBytes(o, at + 0x20, e.gpt_type.data(), 16);  // Gpt.PartitionType
      bytes::WriteBytes(o, at + 0x30, e.gpt_id.data(), 16);    // Gpt.PartitionId
      bytes::WriteU64(o, at + 0x40, e.gpt_attributes);         // Gpt.Attributes
      for (std::size_t c = 0; c < e.gpt_name.size() && c < 36; ++c) {
        bytes::WriteU16(o, at + 0x48 + 2 * c, e.gpt_name[c]);  // Gpt.Name[36]
      }
    }
  }
  return out;
}

bool DiskIoctl(Machine& machine, int disk, std::uint32_t code, const void*, std::uint32_t,
               void* out, std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) {
  *returned = 0;
  const int drive = machine.profile().disks[static_cast<std::size_t>(disk)].drive.value_or(-1);
  if (code == kIoctlDiskGetDriveLayoutEx) {
    if (machine.Faulted("DriveLayout", std::to_string(drive))) {
      *error = os::kErrorGenFailure;
      return false;
    }
    const std::vector<std::uint8_t> encoded =
        EncodeDriveLayout(ReadDiskLayout(machine, disk), outSize);
    if (encoded.empty()) {
      *error = os::kErrorInsufficientBuffer;
      return false;
    }
    std::memcpy(out, encoded.data(), encoded.size());
    *returned = static_cast<std::uint32_t>(encoded.size());
    return true;
  }
  if (code == kIoctlDiskGetLengthInfo) {
    if (outSize < 8) {
      *error = os::kErrorInsufficientBuffer;
      return false;
    }
    bytes::WriteU64(std::span<std::uint8_t>(static_cast<std::uint8_t*>(out), outSize), 0,
                    DiskBytes(machine, disk));
    *returned = 8;
    return true;
  }
  *error = os::kErrorInvalidFunction;
  return false;
}

}  // namespace sim
