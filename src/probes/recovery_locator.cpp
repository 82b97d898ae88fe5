#include "probes/recovery_locator.h"

#include <optional>
#include <vector>

#include "probes/disk_extents.h"
#include "probes/drive_layout.h"
#include "probes/drive_roots.h"

namespace {

const wchar_t kRecoveryLabel[] = L"Recovery";

// Drive numbers are written as one character, so the walk cannot go past '0' + 10 (':'),
// which names no drive.
constexpr std::int32_t kLastDriveCharacter = 10;

os::RawHandle OpenPhysicalDrive(std::int32_t n) {
  std::wstring path = L"\\\\.\\PHYSICALDRIVE";
  path.push_back(static_cast<wchar_t>(L'0' + n));
  return os::CreateFileW(path, os::kGenericRead, os::kFileShareRead | os::kFileShareWrite,
                         os::kOpenExisting, os::kFileAttributeNormal);
}

bool HasExtent(const std::vector<DiskExtent>& extents, std::int32_t nDiskNumber,
               std::int64_t offset) {
  for (const DiskExtent& e : extents) {
    if (e.disk == static_cast<std::uint32_t>(nDiskNumber) &&
        static_cast<std::int64_t>(e.start) == offset) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::int32_t FindRecoveryDriveRoot(std::int32_t nDiskNumber, std::wstring* szDriveRoot,
                                   std::int64_t llStartingOffset) {
  const std::optional<std::vector<std::wstring>> roots = ListDriveRoots();
  if (!roots) return kLocatorFailed;
  for (const std::wstring& root : *roots) {
    std::wstring label;
    if (!os::GetVolumeInformationW(root, &label) || !EqualsIgnoringCase(label, kRecoveryLabel)) {
      continue;
    }
    os::UniqueHandle hVolume(OpenRootVolume(root));
    if (!hVolume) continue;
    const std::optional<std::vector<DiskExtent>> extents = QueryDiskExtents(hVolume.get());
    if (!extents) return kLocatorFailed;
    if (HasExtent(*extents, nDiskNumber, llStartingOffset)) {
      *szDriveRoot = root;
      return kLocatorFound;
    }
  }
  szDriveRoot->clear();
  return kLocatorNotFound;
}

std::int32_t LocateRecoveryDisk(std::int32_t* nDiskNumber, std::int32_t* nPartitionNumber,
                                std::wstring* szDriveRoot) {
  *nDiskNumber = 0;
  *nPartitionNumber = 0;
  std::wstring szLabel;  // reused for every partition, not cleared between them
  for (std::int32_t n = 0; n <= kLastDriveCharacter; ++n) {
    *nDiskNumber = n;
    os::UniqueHandle hDrive(OpenPhysicalDrive(n));
    if (!hDrive) break;
    const std::optional<DriveLayout> layout = QueryDriveLayout(hDrive.get());
    if (!layout) return kLocatorFailed;
    for (const DriveLayoutEntry& e : layout->entries) {
      // MBR entries count only when Windows recognises their type; RAW layouts have none.
      if (layout->style == drive_layout::kStyleMbr) {
        if (!e.recognized) continue;
      } else if (layout->style != drive_layout::kStyleGpt) {
        continue;
      }
      const auto offset = static_cast<std::int64_t>(e.start);
      if (ReadVolumeLabel(hDrive.get(), &szLabel, offset) != kLocatorFound ||
          !EqualsIgnoringCase(szLabel, kRecoveryLabel)) {
        continue;
      }
      *nPartitionNumber = static_cast<std::int32_t>(e.number);
      FindRecoveryDriveRoot(n, szDriveRoot, offset);
      return kLocatorFound;
    }
  }
  *nDiskNumber = 0;
  *nPartitionNumber = 0;
  return kLocatorNotFound;
}
