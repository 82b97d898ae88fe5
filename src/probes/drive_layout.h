// DRIVE_LAYOUT_INFORMATION_EX, the answer to IOCTL_DISK_GET_DRIVE_LAYOUT_EX: the offsets of the
// fields read from it and the one decoder that reads them, for the locator and the capture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/os.h"

namespace drive_layout {

// DRIVE_LAYOUT_INFORMATION_EX.
inline constexpr std::size_t kPartitionStyle = 0x00;  // u32: kStyleMbr, kStyleGpt or kStyleRaw
inline constexpr std::size_t kPartitionCount = 0x04;  // u32
inline constexpr std::size_t kPartitionEntry = 0x30;  // the first PARTITION_INFORMATION_EX

// PARTITION_INFORMATION_EX, kEntryBytes apart from kPartitionEntry on.
inline constexpr std::size_t kEntryBytes = 144;
inline constexpr std::size_t kEntryStartingOffset = 0x08;   // i64
inline constexpr std::size_t kEntryPartitionLength = 0x10;  // i64
inline constexpr std::size_t kEntryPartitionNumber = 0x18;  // u32
inline constexpr std::size_t kEntryStyleInfo = 0x20;        // the Mbr / Gpt union
// PARTITION_INFORMATION_MBR inside the union.
inline constexpr std::size_t kEntryMbrPartitionType = kEntryStyleInfo + 0x00;        // u8
inline constexpr std::size_t kEntryMbrRecognizedPartition = kEntryStyleInfo + 0x02;  // BOOLEAN
// PARTITION_INFORMATION_GPT inside the union.
inline constexpr std::size_t kEntryGptPartitionType = kEntryStyleInfo + 0x00;  // GUID
inline constexpr std::size_t kGuidBytes = 16;

inline constexpr std::uint32_t kStyleMbr = 0;  // PARTITION_STYLE_MBR
inline constexpr std::uint32_t kStyleGpt = 1;  // PARTITION_STYLE_GPT
inline constexpr std::uint32_t kStyleRaw = 2;  // PARTITION_STYLE_RAW

// The query's output buffer: room for 101 entries, enough for any table Windows lays out.
inline constexpr std::uint32_t kBufferBytes = kPartitionEntry + 101 * kEntryBytes;
static_assert(kBufferBytes == 14592);

}  // namespace drive_layout

// One PARTITION_INFORMATION_EX. The MBR fields are set only on an MBR layout, the GPT type only
// on a GPT layout.
struct DriveLayoutEntry {
  std::uint64_t start = 0;   // StartingOffset
  std::uint64_t length = 0;  // PartitionLength
  std::uint32_t number = 0;  // PartitionNumber; 0 for empty slots and containers
  std::uint8_t mbrType = 0;
  bool recognized = false;  // Mbr.RecognizedPartition
  std::array<std::uint8_t, drive_layout::kGuidBytes> gptType{};
};

struct DriveLayout {
  std::uint32_t style = drive_layout::kStyleRaw;
  std::vector<DriveLayoutEntry> entries;  // as the system lists them
};

// Decodes the bytes the query returned: the entries up to the count that lie wholly inside
// them. Fields outside the bytes read as 0.
DriveLayout DecodeDriveLayout(std::span<const std::uint8_t> returned);

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX on an open drive with a kBufferBytes buffer, decoded over the
// bytes it returned. nullopt when the call fails.
std::optional<DriveLayout> QueryDriveLayout(os::RawHandle drive);
