#include "app/existing_cache.h"

#include <algorithm>
#include <optional>

#include "app/disk_identity.h"
#include "app/disk_roles.h"
#include "textout/format.h"
#include "tools/rst_report_cache.h"

namespace {

bool ListedByWindows(const DiskList& disks, const RstDeviceRecord& device) {
  return std::any_of(disks.begin(), disks.end(), [&device](const DiskRecord& d) {
    return SerialNumbersMatch(device.SerialNumber, d.SerialNumber);
  });
}

// The disk Windows shows in place of the SSD, holding the IntelRST partition.
std::optional<std::uint32_t> IntelRstVolume(const ExistingCacheCheck& check) {
  std::optional<std::uint32_t> found;
  for (const DiskRecord& d : check.disks) {
    if (d.Index == check.MasterHDD.Index || !IsFixedDisk(d) ||
        std::find(check.windowsDisks.begin(), check.windowsDisks.end(), d.Index) !=
            check.windowsDisks.end()) {
      continue;
    }
    if (check.holdsIntelRstPartition && check.holdsIntelRstPartition(d.Index)) {
      if (found) return std::nullopt;  // two: neither is told from the other
      found = d.Index;
    }
  }
  return found;
}

// Ids go into one run-log line: a control character would break it.
std::wstring Shown(std::wstring text) {
  for (wchar_t& c : text) {
    if (textout::CodeUnit(c) < 0x20) c = L'?';
  }
  return text;
}

ExistingCache Incomplete(const std::wstring& what) {
  return ExistingCache{ExistingCache::State::kIncomplete, what};
}

}  // namespace

ExistingCache CheckExistingCache(const std::string& report, const RstDeviceList& devices,
                                 const ExistingCacheCheck& check) {
  const ReportCacheReading reading = ReadReportCache(report, devices);
  if (!reading.shown) return ExistingCache{};
  if (!reading.cache)
    return Incomplete(L"a cache volume the report does not pin down: " + reading.why);
  const ReportCache& cache = *reading.cache;
  const RstDeviceRecord* member = FindRstDevice(devices, cache.device);
  if (member == nullptr || ListedByWindows(check.disks, *member)) {
    return Incomplete(textout::Format(L"a cache volume on device %ls, which Windows still lists",
                                      Shown(cache.device).c_str()));
  }

  std::vector<std::wstring> missing;
  const RstDeviceRecord* accel =
      cache.acceleratedDisk.empty() ? nullptr : FindRstDevice(devices, cache.acceleratedDisk);
  if (accel == nullptr) {
    missing.push_back(L"the acceleration of MasterHDD");
  } else if (!SerialNumbersMatch(accel->SerialNumber, check.MasterHDD.SerialNumber) ||
             !SizesAgree(static_cast<std::uint32_t>(accel->Size), check.MasterHDD.Size)) {
    missing.push_back(textout::Format(L"the acceleration of MasterHDD (it accelerates %ls)",
                                      Shown(cache.acceleratedDisk).c_str()));
  } else if (cache.mode != check.mode) {
    missing.push_back(
        textout::Format(L"the %ls mode (it is %ls)", check.mode.c_str(), cache.mode.c_str()));
  }
  std::optional<std::uint32_t> volume;
  if (check.wantsIntelRst) {
    volume = IntelRstVolume(check);
    if (!cache.dataGiB) {
      missing.push_back(L"the data volume");
    } else if (!volume) {
      missing.push_back(L"the IntelRST partition on the data volume");
    }
  }
  if (!missing.empty()) {
    std::wstring what =
        textout::Format(L"a cache volume on device %ls without ", Shown(cache.device).c_str());
    for (std::size_t i = 0; i < missing.size(); ++i) {
      what += (i == 0 ? L"" : i + 1 == missing.size() ? L" and " : L", ") + missing[i];
    }
    return Incomplete(what);
  }
  std::wstring what = textout::Format(L"cache volume on device %ls, %ls accelerated %ls",
                                      Shown(cache.device).c_str(),
                                      Shown(cache.acceleratedDisk).c_str(), cache.mode.c_str());
  if (volume) what += textout::Format(L", IntelRST partition on Disk[%u]", *volume);
  return ExistingCache{ExistingCache::State::kInPlace, what};
}
