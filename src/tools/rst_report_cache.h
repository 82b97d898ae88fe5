// The cache configuration the storage tool's "-I" report shows: a notebook already provisioned,
// or cut after its cache was made, replays with that cache in place.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/rst_report.h"

// The cache volume, its data volume and the acceleration, as the report prints them.
struct ReportCache {
  std::wstring device;         // the one device the report marks "Array member"
  std::wstring cacheSizeText;  // the cache volume's size as printed, without " GB"
  double cacheGiB = 0;
  std::optional<double> dataGiB;  // the data volume's size; none: the cache takes the device
  std::wstring acceleratedDisk;   // empty: no disk accelerated yet
  std::wstring mode;              // "maximized" or "enhanced"; empty without acceleratedDisk
};

struct ReportCacheReading {
  bool shown = false;                // the report lists a cache volume
  std::optional<ReportCache> cache;  // what it shows, when that can be rebuilt
  std::wstring why;                  // shown but not rebuilt: what stands in the way
};

// Reads the volume section of `report` (the tool's bytes) against its `devices`.
ReportCacheReading ReadReportCache(const std::string& report, const RstDeviceList& devices);

// A device block's sizes as the report prints them ("465.76 GB"), where they are plain text
// and the block has a "Size:" line.
struct ReportDeviceSizes {
  std::wstring id, size, freeSize;
  // The "System Disk:" line's text as printed (it may be empty); nullopt without the line.
  std::optional<std::wstring> systemDisk;
};

// The device blocks' sizes, in the report's order.
std::vector<ReportDeviceSizes> ReadDeviceSizes(const std::string& report);
