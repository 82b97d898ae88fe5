#include "probes/recovery_locator.h"

#include <span>
#include <vector>

#include "platform/bytes.h"

namespace {

const wchar_t kRecoveryLabel[] = L"Recovery";

// DRIVE_LAYOUT_INFORMATION_EX.
constexpr std::size_t kLayoutPartitionStyle = 0x00;  // u32: 0 MBR, 1 GPT, 2 RAW
constexpr std::size_t kLayoutPartitionCount = 0x04;  // u32
// PARTITION_INFORMATION_EX, kPartitionEntryBytes each after the header.
constexpr std::size_t kEntryStartingOffset = 0x08;   // i64
constexpr std::size_t kEntryPartitionNumber = 0x18;  // u32
constexpr std::size_t kEntryMbrRecognized = 0x22;    // BOOLEAN, Mbr.RecognizedPartition
constexpr std::uint32_t kStyleMbr = 0;
constexpr std::uint32_t kStyleGpt = 1;

// VOLUME_DISK_EXTENTS and DISK_EXTENT.
constexpr std::size_t kExtentsCount = 0x00;          // u32 NumberOfDiskExtents
constexpr std::size_t kExtentDiskNumber = 0x00;      // u32
constexpr std::size_t kExtentStartingOffset = 0x08;  // i64

// Drive roots are "X:\" plus a terminator; room for all 26 letters and the list's end.
constexpr std::uint32_t kRootChars = 4;
constexpr std::uint32_t kRootListChars = kRootChars * 26 + 1;

// Drive numbers are written as one character, so the walk cannot go past '0' + 10 (':'),
// which names no drive.
constexpr std::int32_t kLastDriveCharacter = 10;

os::RawHandle OpenPhysicalDrive(std::int32_t n) {
  std::wstring path = L"\\\\.\\PHYSICALDRIVE";
  path.push_back(static_cast<wchar_t>(L'0' + n));
  return os::CreateFileW(path, os::kGenericRead, os::kFileShareRead | os::kFileShareWrite,
                         os::kOpenExisting, os::kFileAttributeNormal);
}

// Whether an open volume has an extent on disk `nDiskNumber` starting at `offset`. False
// with *failed set when the query fails.
bool VolumeHasExtent(os::RawHandle hVolume, std::int32_t nDiskNumber, std::int64_t offset,
                     bool* failed) {
  std::vector<std::uint8_t> buffer(kDiskExtentsBufferBytes, 0);
  std::uint32_t returned = 0;
  *failed = !os::DeviceIoControl(hVolume, kIoctlVolumeGetVolumeDiskExtents, nullptr, 0,
                                 buffer.data(), kDiskExtentsBufferBytes, &returned);
  if (*failed) return false;
  // Only extents inside the bytes the call returned are looked at.
  const std::span<const std::uint8_t> extents(buffer.data(),
                                              returned < buffer.size() ? returned : buffer.size());
  const std::uint32_t count = bytes::U32(extents, kExtentsCount);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kDiskExtentsHeaderBytes + static_cast<std::size_t>(i) * kDiskExtentBytes;
    if (!bytes::InRange(extents.size(), at, kDiskExtentBytes)) break;
    if (bytes::U32(extents, at + kExtentDiskNumber) == static_cast<std::uint32_t>(nDiskNumber) &&
        static_cast<std::int64_t>(bytes::U64(extents, at + kExtentStartingOffset)) == offset) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::int32_t FindRecoveryDriveRoot(std::int32_t nDiskNumber, std::wstring* szDriveRoot,
                                   std::int64_t llStartingOffset) {
  std::vector<wchar_t> roots;
  std::uint32_t length = os::GetLogicalDriveStringsW(kRootListChars, &roots);
  if (length == 0) return kLocatorFailed;
  if (length > kRootListChars) {
    // More than the buffer holds (the call returns the size it needs): ask once more with
    // that size; what does not arrive is not walked.
    length = os::GetLogicalDriveStringsW(length, &roots);
    if (length == 0) return kLocatorFailed;
  }
  // Roots are walked four characters at a time, only while they lie inside both the length
  // returned and the characters actually written.
  const std::size_t end = length < roots.size() ? length : roots.size();
  for (std::size_t at = 0; at + 3 <= end; at += kRootChars) {
    std::wstring root(roots.data() + at, 3);
    std::wstring label;
    if (!os::GetVolumeInformationW(root, &label) || !EqualsIgnoringCase(label, kRecoveryLabel)) {
      continue;
    }
    std::wstring volume = L"\\\\.\\C:";
    volume[4] = root[0];
    volume[5] = root[1];
    os::UniqueHandle hVolume(os::CreateFileW(
        volume, os::kGenericRead, os::kFileShareRead | os::kFileShareWrite | os::kFileShareDelete,
        os::kOpenExisting, os::kFileAttributeNormal));
    if (!hVolume) continue;
    bool failed = false;
    if (VolumeHasExtent(hVolume.get(), nDiskNumber, llStartingOffset, &failed)) {
      *szDriveRoot = root;
      return kLocatorFound;
    }
    if (failed) return kLocatorFailed;
  }
  szDriveRoot->clear();
  return kLocatorNotFound;
}

std::int32_t LocateRecoveryDisk(std::int32_t* nDiskNumber, std::int32_t* nPartitionNumber,
                                std::wstring* szDriveRoot) {
  *nDiskNumber = 0;
  *nPartitionNumber = 0;
  std::wstring szLabel;  // reused for every partition, not cleared between them
  std::vector<std::uint8_t> layout(kDriveLayoutBufferBytes, 0);
  for (std::int32_t n = 0; n <= kLastDriveCharacter; ++n) {
    *nDiskNumber = n;
    os::UniqueHandle hDrive(OpenPhysicalDrive(n));
    if (!hDrive) break;
    std::uint32_t returned = 0;
    if (!os::DeviceIoControl(hDrive.get(), kIoctlDiskGetDriveLayoutEx, nullptr, 0, layout.data(),
                             kDriveLayoutBufferBytes, &returned)) {
      return kLocatorFailed;
    }
    // Only entries inside the bytes the call returned are looked at.
    const std::span<const std::uint8_t> info(layout.data(),
                                             returned < layout.size() ? returned : layout.size());
    const std::uint32_t style = bytes::U32(info, kLayoutPartitionStyle);
    const std::uint32_t count = bytes::U32(info, kLayoutPartitionCount);
    bool found = false;
    for (std::uint32_t i = 0; i < count && !found; ++i) {
      const std::size_t at =
          kDriveLayoutHeaderBytes + static_cast<std::size_t>(i) * kPartitionEntryBytes;
      if (!bytes::InRange(info.size(), at, kPartitionEntryBytes)) break;
      if (style == kStyleMbr) {
        std::uint8_t recognized = 0;
        bytes::ReadU8(info, at + kEntryMbrRecognized, &recognized);
        if (recognized == 0) continue;
      } else if (style != kStyleGpt) {
        continue;
      }
      const auto offset = static_cast<std::int64_t>(bytes::U64(info, at + kEntryStartingOffset));
      if (ReadVolumeLabel(hDrive.get(), &szLabel, offset) != kLocatorFound ||
          !EqualsIgnoringCase(szLabel, kRecoveryLabel)) {
        continue;
      }
      *nPartitionNumber = static_cast<std::int32_t>(bytes::U32(info, at + kEntryPartitionNumber));
      FindRecoveryDriveRoot(n, szDriveRoot, offset);
      found = true;
    }
    if (found) return kLocatorFound;
  }
  *nDiskNumber = 0;
  *nPartitionNumber = 0;
  return kLocatorNotFound;
}
