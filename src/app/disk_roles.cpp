#include "app/disk_roles.h"

#include <string_view>

#include "textout/format.h"

namespace {

constexpr std::wstring_view kFixedMediaText = L"Fixed hard disk media";  // 21 characters
constexpr std::uint32_t kNoCacheDeviceBound = 999999;
constexpr double kMinimumCacheSize = 18.6;

// The role records take these fields; every other field keeps what the record was created with.
void CopyRoleFields(const DiskRecord& from, DiskRecord& to) {
  to.Index = from.Index;
  to.InterfaceType = from.InterfaceType;
  to.MediaLoaded = from.MediaLoaded;
  to.MediaType = from.MediaType;
  to.Model = from.Model;
  to.Name = from.Name;
  to.Partitions = from.Partitions;
  to.PNPDeviceID = from.PNPDeviceID;
  to.SerialNumber = from.SerialNumber;
  to.Size = from.Size;
  to.MediaKind = from.MediaKind;
}

}  // namespace

bool IsFixedDisk(const DiskRecord& disk) {
  return std::wstring_view(disk.MediaType) == kFixedMediaText;
}

int CountFixedDisks(const DiskList& disks) {
  int count = 0;
  for (const DiskRecord& disk : disks) {
    if (IsFixedDisk(disk)) ++count;
  }
  return count;
}

bool AssignDiskRoles(const DiskList& disks, std::int32_t nRecoveryDiskIndex, DiskRecord& MasterHDD,
                     DiskRecord& SecondHDD, LogWriter& runLog) {
  bool masterAssigned = false;
  for (const DiskRecord& disk : disks) {
    if (!IsFixedDisk(disk)) continue;
    const bool holdsRecovery = static_cast<std::int64_t>(disk.Index) == nRecoveryDiskIndex;
    if (holdsRecovery && !masterAssigned) {
      CopyRoleFields(disk, MasterHDD);
      runLog.WriteStamped(
          textout::Format(L"Get MasterHDD info, DiskIndex = %d", static_cast<int>(disk.Index)));
      masterAssigned = true;
    } else {
      CopyRoleFields(disk, SecondHDD);
      runLog.WriteStamped(
          textout::Format(L"Get SecondHDD info, DiskIndex = %d", static_cast<int>(disk.Index)));
    }
  }
  return masterAssigned;
}

std::wstring SelectCacheDevice(const RstDeviceList& devices, std::uint32_t* smallestSize) {
  std::wstring id = L"0-1-0-0";
  std::uint32_t bound = kNoCacheDeviceBound;
  for (const RstDeviceRecord& device : devices) {
    const std::uint32_t size = static_cast<std::uint32_t>(device.Size);
    if (size < bound) {
      bound = size;
      id = device.ID;
    }
  }
  *smallestSize = bound;
  return id;
}

std::wstring SelectDiskToAccelerate(const RstDeviceList& devices) {
  std::wstring id = L"0-0-0-0";
  std::uint32_t best = 0;
  for (const RstDeviceRecord& device : devices) {
    const std::uint32_t size = static_cast<std::uint32_t>(device.Size);
    if (size > best) {
      best = size;
      id = device.ID;
    }
  }
  return id;
}

double ComputeCacheSize(std::uint32_t smallestSize, std::uint32_t nInstalledMemoryMB,
                        int bIs64BitOS) {
  // Whole "gigabytes" of 1000 MB: the division is meant to drop the remainder.
  const double memoryTerm =
      nInstalledMemoryMB >= 4096
          ? static_cast<double>(nInstalledMemoryMB / 1000)  // NOLINT(bugprone-integer-division)
          : 4.0;
  double cacheSize = static_cast<double>(smallestSize) - (memoryTerm + 0.5);
  if (cacheSize < kMinimumCacheSize) cacheSize = kMinimumCacheSize;
  if (bIs64BitOS == 0) cacheSize = kMinimumCacheSize;
  return cacheSize;
}

std::wstring FormatCacheSize(double cacheSize) { return textout::Format(L"%.1f", cacheSize); }
