#include "app/data_volume.h"

#include <cstdint>
#include <cwchar>
#include <optional>

#include "app/disk_identity.h"
#include "app/disk_roles.h"

namespace {

bool SameDisk(const DiskRecord& a, const DiskRecord& b) {
  return a.Model == b.Model && a.SerialNumber == b.SerialNumber && a.Size == b.Size &&
         a.PNPDeviceID == b.PNPDeviceID;
}

bool IsNew(const DiskRecord& disk, const DiskList& before) {
  for (const DiskRecord& old : before) {
    if (SameDisk(disk, old)) return false;
  }
  return true;
}

// Whether `bytes` is what a cache of `cacheSize` units leaves of `deviceBytes`, in either unit.
bool LeftByCache(std::uint64_t bytes, std::uint64_t deviceBytes, double cacheSize) {
  for (const double unit : {1e9, 1073741824.0}) {
    const double expected = static_cast<double>(deviceBytes) - cacheSize * unit;
    const double off = static_cast<double>(bytes) - expected;
    if (expected > 0 && off <= static_cast<double>(kDataVolumeSlackBytes) &&
        -off <= static_cast<double>(kDataVolumeSlackBytes)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<DiskRecord> FindDataVolumes(const DiskList& before, const DiskList& after,
                                        const DiskRecord& SecondHDD,
                                        const std::wstring& cacheSizeText) {
  std::vector<DiskRecord> found;
  const std::optional<std::uint64_t> deviceBytes = ParseWmiSize(SecondHDD.Size);
  if (!deviceBytes) return found;
  std::optional<double> cacheSize;
  if (!cacheSizeText.empty()) {
    wchar_t* end = nullptr;
    const double value = std::wcstod(cacheSizeText.c_str(), &end);
    if (end == cacheSizeText.c_str() || *end != L'\0' || !(value > 0)) return found;
    cacheSize = value;
  }
  for (const DiskRecord& disk : after) {
    const std::optional<std::uint64_t> bytes = ParseWmiSize(disk.Size);
    if (!IsFixedDisk(disk) || !IsNew(disk, before) || disk.Partitions != 0 || !bytes ||
        *bytes == 0 || *bytes >= *deviceBytes) {
      continue;
    }
    if (cacheSize && !LeftByCache(*bytes, *deviceBytes, *cacheSize)) continue;
    found.push_back(disk);
  }
  return found;
}
