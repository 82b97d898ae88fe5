#include "capture/disk_pairing.h"

#include <algorithm>
#include <cmath>

#include "tools/rst_report.h"

namespace {

// The largest blank disk a profile takes (16 TiB).
constexpr std::uint64_t kLargestBlankMb = 1u << 24;

std::wstring Trimmed(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// A WMI number text (Size); 0 when it is not all digits or too long for 64 bits.
std::uint64_t DecimalOrZero(const std::wstring& text) {
  if (text.empty() || text.size() > 19) return 0;
  std::uint64_t n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return n;
}

bool SerialMatches(const ProfileDisk& disk, const RstDeviceRecord& device) {
  const os::WmiValue* serial = FindProperty(disk.wmi, L"SerialNumber");
  return serial != nullptr && serial->kind == os::WmiValue::Kind::Text &&
         !Trimmed(device.SerialNumber).empty() &&
         Trimmed(serial->text) == Trimmed(device.SerialNumber);
}

// The one disk Windows lists whose size is the data volume's (no device's serial, within the
// report's rounding and WMI's whole cylinders), or -1.
int DataVolumeDisk(const std::vector<ProfileDisk>& disks, const RstDeviceList& devices,
                   double gib) {
  constexpr double kSlackBytes = 256.0 * 1024 * 1024;
  int found = -1;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const os::WmiValue* size = FindProperty(disks[i].wmi, L"Size");
    if (size == nullptr || size->kind != os::WmiValue::Kind::Text) continue;
    const double bytes = static_cast<double>(DecimalOrZero(size->text));
    if (std::fabs(bytes - gib * 1073741824.0) > kSlackBytes) continue;
    bool serial = false;
    for (const RstDeviceRecord& d : devices) serial |= SerialMatches(disks[i], d);
    if (serial) continue;
    if (found >= 0) return -1;
    found = static_cast<int>(i);
  }
  return found;
}

// Gives each device a disk: the cache's device one of its own (Windows does not see it: its
// bytes are unknown, its size the volumes'), the rest theirs by serial number, else the next disk
// without a device that is not the data volume.
void PlaceDevices(const RstDeviceList& devices, const std::vector<ReportDeviceSizes>& sizes,
                  PairedDisks& paired) {
  std::vector<ProfileDisk>& disks = paired.disks;
  const std::optional<ReportCache>& cache = paired.cache.cache;
  bool hiddenPlaced = false;
  for (const RstDeviceRecord& device : devices) {
    int home = -1;
    if (cache && device.ID == cache->device && !hiddenPlaced) {
      hiddenPlaced = true;
      ProfileDisk& hidden = disks.emplace_back();
      hidden.cacheRole = CacheRole::kCacheDevice;
      hidden.blankSizeMb = std::clamp<std::uint64_t>(
          static_cast<std::uint64_t>(std::llround(cache->cacheGiB * 1024) +
                                     (cache->dataGiB ? std::llround(*cache->dataGiB * 1024) : 0)),
          1, kLargestBlankMb);
      home = static_cast<int>(disks.size() - 1);
    }
    for (std::size_t i = 0; home < 0 && i < disks.size(); ++i) {
      if (!disks[i].rstId && SerialMatches(disks[i], device)) home = static_cast<int>(i);
    }
    for (std::size_t i = 0; home < 0 && i < disks.size(); ++i) {
      if (!disks[i].rstId && disks[i].cacheRole == CacheRole::kNone) home = static_cast<int>(i);
    }
    if (home < 0) break;  // more devices than disks: the rest have nowhere to go
    ProfileDisk& d = disks[static_cast<std::size_t>(home)];
    d.rstId = device.ID;
    d.rst = device;
    d.rstSize = std::to_wstring(device.Size) + L" GB";
    d.rstFreeSize = std::to_wstring(device.FreeSize) + L" GB";
    const auto printed =
        std::find_if(sizes.begin(), sizes.end(),
                     [&device](const ReportDeviceSizes& s) { return s.id == device.ID; });
    if (printed != sizes.end()) {
      d.rstSize = printed->size;
      d.rstFreeSize = printed->freeSize;
      d.rstSystemDisk = printed->systemDisk;
    }
    if (d.cacheRole == CacheRole::kCacheDevice) {
      d.rst.Usage = L"Available";
      d.rstFreeSize = d.rstSize;
    }
  }
}

// Places the report's devices on the disks, with the cache the report shows where it can be
// carried: its device not among the disks Windows lists, its data volume one of them, the disk
// it accelerates given a disk.
void PairDevices(const std::string& report, PairedDisks& paired) {
  const std::vector<ProfileDisk> without = paired.disks;
  RstDeviceList devices;
  ParseRstReportBytes(report, devices);
  paired.cache = ReadReportCache(report, devices);
  std::optional<ReportCache>& cache = paired.cache.cache;
  if (cache) {
    for (const RstDeviceRecord& d : devices) {
      for (const ProfileDisk& disk : paired.disks) {
        if (d.ID == cache->device && SerialMatches(disk, d)) {
          paired.cache.why = L"Windows still lists its device " + cache->device;
        }
      }
    }
    if (paired.cache.why.empty() && cache->dataGiB) {
      const int volume = DataVolumeDisk(paired.disks, devices, *cache->dataGiB);
      if (volume < 0) {
        paired.cache.why = L"no one disk Windows lists has the data volume's size";
      } else {
        paired.disks[static_cast<std::size_t>(volume)].cacheRole = CacheRole::kDataVolume;
      }
    }
    if (!paired.cache.why.empty()) cache.reset();
  }
  const std::vector<ReportDeviceSizes> sizes = ReadDeviceSizes(report);
  PlaceDevices(devices, sizes, paired);
  if (!cache || cache->acceleratedDisk.empty()) return;
  for (const ProfileDisk& d : paired.disks) {
    if (d.rstId == cache->acceleratedDisk) return;
  }
  // More devices than disks left the accelerated one without a disk to name.
  paired.cache.why = L"its accelerated disk " + cache->acceleratedDisk + L" has no disk here";
  cache.reset();
  paired.disks = without;
  PlaceDevices(devices, sizes, paired);
}

}  // namespace

PairedDisks PairDisks(const MachineRecord& record) {
  PairedDisks paired;
  std::vector<ProfileDisk>& disks = paired.disks;
  std::vector<bool> used(record.drives.size(), false);
  for (const CapturedWmiDisk& wmi : record.wmiDisks) {
    ProfileDisk d;
    d.wmi = &wmi;
    const os::WmiValue* index = FindProperty(&wmi, L"Index");
    for (std::size_t i = 0;
         index != nullptr && index->kind == os::WmiValue::Kind::Int32 && i < record.drives.size();
         ++i) {
      if (!used[i] && record.drives[i].number == index->i32) {
        d.drive = &record.drives[i];
        used[i] = true;
        break;
      }
    }
    disks.push_back(d);
  }
  // Which WMI disk a drive sits behind is not visible to the product: the inventory asks the
  // drive its Index names, the locator walks drive numbers. The rest go where there is room.
  for (std::size_t i = 0; i < record.drives.size(); ++i) {
    if (used[i]) continue;
    ProfileDisk* home = nullptr;
    for (ProfileDisk& d : disks) {
      if (d.drive == nullptr) {
        home = &d;
        break;
      }
    }
    if (home == nullptr) home = &disks.emplace_back();
    home->drive = &record.drives[i];
  }
  // No drive to read: the disk's size is what WMI says, its bytes unknown (blank).
  for (ProfileDisk& d : disks) {
    const os::WmiValue* size = FindProperty(d.wmi, L"Size");
    if (d.drive != nullptr || size == nullptr || size->kind != os::WmiValue::Kind::Text) continue;
    d.blankSizeMb = std::min(DecimalOrZero(size->text) / (1024 * 1024), kLargestBlankMb);
  }
  for (const CapturedLetter& l : record.letters) {
    if (!l.extents || l.extents->empty()) continue;
    const DiskExtent& e = l.extents->front();
    for (ProfileDisk& d : disks) {
      if (d.drive == nullptr || d.drive->number != static_cast<int>(e.disk) || !d.drive->layout) {
        continue;
      }
      for (const DriveLayoutEntry& entry : d.drive->layout->entries) {
        if (entry.start == e.start && entry.number != 0) d.letters[l.letter] = entry.number;
      }
    }
  }
  if (record.storageReport) PairDevices(*record.storageReport, paired);
  return paired;
}
