#include "sim/devices/disk_control.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "platform/bytes.h"
#include "sim/devices/windows_codes.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/guid.h"

namespace sim {

std::vector<std::uint8_t> EncodeDriveLayout(const DiskLayout& layout, std::size_t capacity) {
  const std::size_t need =
      kDriveLayoutHeaderSize + layout.entries.size() * kPartitionInformationExSize;
  if (need > capacity) return {};
  std::vector<std::uint8_t> out(need, 0);
  std::span<std::uint8_t> o(out);
  namespace lf = layout_fields;
  namespace pf = partition_fields;
  bytes::WriteU32(o, lf::kPartitionStyle, layout.style);
  bytes::WriteU32(o, lf::kPartitionCount, static_cast<std::uint32_t>(layout.entries.size()));
  if (layout.style == DiskLayout::kMbr) {
    bytes::WriteU32(o, lf::kMbrSignature, layout.mbr_signature);
  } else if (layout.style == DiskLayout::kGpt) {
    bytes::WriteBytes(o, lf::kGptDiskId, layout.disk_id.data(), layout.disk_id.size());
    bytes::WriteU64(o, lf::kGptStartingUsableOffset, layout.first_usable);
    bytes::WriteU64(o, lf::kGptUsableLength, layout.usable_length);
    bytes::WriteU32(o, lf::kGptMaxPartitionCount, layout.max_partitions);
  }
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    const LayoutEntry& e = layout.entries[i];
    const std::span<std::uint8_t> p = o.subspan(
        kDriveLayoutHeaderSize + i * kPartitionInformationExSize, kPartitionInformationExSize);
    bytes::WriteU32(p, pf::kPartitionStyle, layout.style);
    bytes::WriteU64(p, pf::kStartingOffset, e.offset);
    bytes::WriteU64(p, pf::kPartitionLength, e.length);
    bytes::WriteU32(p, pf::kPartitionNumber, e.number);
    if (layout.style == DiskLayout::kMbr) {
      bytes::WriteU8(p, pf::kMbrPartitionType, e.mbr_type);
      bytes::WriteU8(p, pf::kMbrBootIndicator, e.boot_indicator ? 1 : 0);
      bytes::WriteU8(p, pf::kMbrRecognizedPartition, e.recognized ? 1 : 0);
      bytes::WriteU32(p, pf::kMbrHiddenSectors, e.hidden_sectors);
    } else if (layout.style == DiskLayout::kGpt) {
      bytes::WriteBytes(p, pf::kGptPartitionType, e.gpt_type.data(), e.gpt_type.size());
      bytes::WriteBytes(p, pf::kGptPartitionId, e.gpt_id.data(), e.gpt_id.size());
      bytes::WriteU64(p, pf::kGptAttributes, e.gpt_attributes);
      for (std::size_t c = 0; c < e.gpt_name.size() && c < pf::kGptNameChars; ++c) {
        bytes::WriteU16(p, pf::kGptName + 2 * c, e.gpt_name[c]);
      }
    }
  }
  return out;
}

namespace {

// The layout Windows reported for a captured drive whose table sectors could not be read on
// capture (its raw reads fail in the replay): the drive's table is not in the pieces, but the
// notebook's system still listed its partitions, and the product reads their types.
std::optional<DiskLayout> RecordedDriveLayout(Machine& machine, int disk, int drive) {
  const Disk& d = machine.profile().disks[static_cast<std::size_t>(disk)];
  if (!d.captured || !d.captured->layout || !machine.Faulted("ReadFile", std::to_string(drive))) {
    return std::nullopt;
  }
  const RecordedLayout& recorded = *d.captured->layout;
  DiskLayout layout;
  layout.style = recorded.style == "mbr"   ? DiskLayout::kMbr
                 : recorded.style == "gpt" ? DiskLayout::kGpt
                                           : DiskLayout::kRaw;
  for (const RecordedEntry& r : recorded.entries) {
    LayoutEntry e;
    e.offset = r.start;
    e.length = r.length;
    e.number = r.number;
    e.recognized = r.recognised.value_or(false);
    if (layout.style == DiskLayout::kMbr && r.type.size() == 4) {
      e.mbr_type = static_cast<std::uint8_t>(std::strtoul(r.type.c_str() + 2, nullptr, 16));
    } else if (layout.style == DiskLayout::kGpt) {
      e.gpt_type = ParseGuid(r.type);
    }
    layout.entries.push_back(e);
  }
  return layout;
}

}  // namespace

bool DiskIoctl(Machine& machine, int disk, std::uint32_t code, const void*, std::uint32_t,
               void* out, std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) {
  *returned = 0;
  const int drive = machine.profile().disks[static_cast<std::size_t>(disk)].drive.value_or(-1);
  if (code == kIoctlDiskGetDriveLayoutEx) {
    if (machine.Faulted("DriveLayout", std::to_string(drive))) {
      *error = os::kErrorGenFailure;
      return false;
    }
    const std::optional<DiskLayout> recorded = RecordedDriveLayout(machine, disk, drive);
    const std::vector<std::uint8_t> encoded =
        EncodeDriveLayout(recorded ? *recorded : ReadDiskLayout(machine, disk), outSize);
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
