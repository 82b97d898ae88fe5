// Which disk the create script selects once the cache exists. Making the cache takes the SSD out
// of Windows' view and shows what the cache leaves of it as a new disk, the data volume, under a
// number the controller chooses; so the disk is chosen from the inventory taken again, by
// evidence, never by the number the SSD had.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "probes/disk_record.h"

// What the data volume is looked for against.
struct DataVolumeSearch {
  const DiskList& before;  // the inventory the run began with
  const DiskRecord& MasterHDD;
  const DiskRecord& SecondHDD;
  std::wstring cacheSizeText;  // as "--cache-size" printed it; empty: a whole-device cache
  std::vector<std::uint32_t> windowsDisks;  // the disks the Windows volume lies on
  // Whether a disk WMI counts partitions on holds only the IntelRST partition a create script
  // makes (a reworked unit's volume may come back with it).
  std::function<bool(const DiskRecord&)> holdsOnlyIntelRst;
};

// The disks of `after` that can be the cache's data volume: fixed; new (no disk of `before` has
// the same model, serial number, size and PNP device id); neither MasterHDD's number nor a disk
// of the Windows volume; holding no partition, or only the IntelRST one; smaller than SecondHDD.
// With a sized cache the size must also be what a cache of that size leaves of SecondHDD
// (DataVolumeFits).
std::vector<DiskRecord> FindDataVolumes(const DataVolumeSearch& search, const DiskList& after);

// Whether `volumeBytes` is what a cache of `cacheSize` (the "--cache-size" number) leaves of a
// device of `deviceBytes`. The tool's unit is not published and it may round or align the cache,
// so the cache may take from cacheSize decimal gigabytes up to one GiB more than cacheSize
// rounded up to whole GiB; the data volume may lie kDataVolumeSlackBytes beyond either end.
bool DataVolumeFits(std::uint64_t volumeBytes, std::uint64_t deviceBytes, double cacheSize);

// The controller's metadata and WMI's whole cylinders each take a few MiB off the data volume;
// this is well above them.
inline constexpr unsigned long long kDataVolumeSlackBytes = 256ull << 20;
