#include "app/data_volume.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <optional>

#include "app/disk_identity.h"
#include "app/disk_roles.h"

namespace {

constexpr double kGigabyte = 1e9;
constexpr double kGibibyte = 1073741824.0;

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

bool IsWindowsDisk(const DiskRecord& disk, const DataVolumeSearch& search) {
  return disk.Index == search.MasterHDD.Index || SameDisk(disk, search.MasterHDD) ||
         std::find(search.windowsDisks.begin(), search.windowsDisks.end(), disk.Index) !=
             search.windowsDisks.end();
}

}  // namespace

bool DataVolumeFits(std::uint64_t volumeBytes, std::uint64_t deviceBytes, double cacheSize) {
  if (!(cacheSize > 0) || cacheSize > 1e9) return false;
  const double smallestCache = cacheSize * kGigabyte;
  const double largestCache = (std::ceil(cacheSize) + 1) * kGibibyte;
  const double device = static_cast<double>(deviceBytes);
  const double bytes = static_cast<double>(volumeBytes);
  const double slack = static_cast<double>(kDataVolumeSlackBytes);
  if (device - smallestCache <= 0) return false;
  return bytes >= device - largestCache - slack && bytes <= device - smallestCache + slack;
}

std::vector<DiskRecord> FindDataVolumes(const DataVolumeSearch& search, const DiskList& after) {
  std::vector<DiskRecord> found;
  const std::optional<std::uint64_t> deviceBytes = ParseWmiSize(search.SecondHDD.Size);
  if (!deviceBytes) return found;
  std::optional<double> cacheSize;
  if (!search.cacheSizeText.empty()) {
    const std::wstring& text = search.cacheSizeText;
    wchar_t* end = nullptr;
    const double value = std::wcstod(text.c_str(), &end);
    if (end == text.c_str() || *end != L'\0' || !(value > 0)) return found;
    cacheSize = value;
  }
  for (const DiskRecord& disk : after) {
    const std::optional<std::uint64_t> bytes = ParseWmiSize(disk.Size);
    if (!IsFixedDisk(disk) || !IsNew(disk, search.before) || IsWindowsDisk(disk, search) ||
        !bytes || *bytes == 0 || *bytes >= *deviceBytes) {
      continue;
    }
    if (cacheSize && !DataVolumeFits(*bytes, *deviceBytes, *cacheSize)) continue;
    if (disk.Partitions != 0 && !(search.holdsOnlyIntelRst && search.holdsOnlyIntelRst(disk))) {
      continue;
    }
    found.push_back(disk);
  }
  return found;
}
