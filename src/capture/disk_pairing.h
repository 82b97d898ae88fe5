// Which physical drive sits behind which WMI disk, which partition each drive letter is, and
// which of the storage tool's devices is which disk: the capture decides these for the replay,
// since the product never sees them together.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "capture/machine_record.h"
#include "tools/rst_report_cache.h"

// What a disk is to the storage tool's cache the report shows.
enum class CacheRole { kNone, kCacheDevice, kDataVolume };

// One disk of the profile: a WMI disk and/or a physical drive, as the replay lays it out.
struct ProfileDisk {
  const CapturedWmiDisk* wmi = nullptr;      // nullptr: a drive WMI did not list
  const CapturedDrive* drive = nullptr;      // nullptr: no physical drive behind it
  std::uint64_t blankSizeMb = 0;             // without a drive: WMI's Size in MiB, 0 if none
  std::map<wchar_t, std::uint32_t> letters;  // drive letter -> partition number
  std::optional<std::wstring> rstId;         // the storage tool's device on this disk
  // Its block as the report prints it (the sizes as printed, where they are plain text), so that
  // a replay's tool prints the same block once the run has changed its configuration. The cache's
  // device is kept as it is without the cache: "Available", its whole size free.
  RstDeviceRecord rst;
  std::wstring rstSize, rstFreeSize;
  std::optional<std::wstring> rstSystemDisk;  // the flag as printed; nullopt: from the record
  CacheRole cacheRole = CacheRole::kNone;
};

// The profile's disks and the cache configuration the replay starts with.
struct PairedDisks {
  std::vector<ProfileDisk> disks;
  ReportCacheReading cache;  // cache.cache set: the replay carries the report's cache
};

// Pairs WMI disks with drives (a disk's own Index first, then the rest in order), places the
// drive letters at the partitions their first extents start at, and ties the storage tool's
// devices to disks (by serial number, else the next disk without one). A cache the report shows
// is carried when its device is one Windows does not list (it becomes a blank disk of the
// cache's and data volume's sizes) and its data volume, if any, is the one disk Windows lists
// at that size. The disks point into `record`, which must outlive them.
PairedDisks PairDisks(const MachineRecord& record);
