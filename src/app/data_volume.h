// Which disk the create script selects once the cache exists. Making the cache takes the SSD out
// of Windows' view and shows what the cache leaves of it as a new disk, the data volume, under a
// number the controller chooses; so the disk is chosen from the inventory taken again, by
// evidence, never by the number the SSD had.
#pragma once

#include <string>
#include <vector>

#include "probes/disk_record.h"

// The disks of `after` that can be the cache's data volume: fixed, new (no disk of `before` has
// the same model, serial number, size and PNP device id), holding no partition and smaller than
// SecondHDD. With a sized cache (`cacheSizeText` as "--cache-size" printed it; empty for a cache
// over the whole device) the size must also be SecondHDD's less the cache, in decimal or binary
// gigabytes, give or take kDataVolumeSlackBytes.
std::vector<DiskRecord> FindDataVolumes(const DiskList& before, const DiskList& after,
                                        const DiskRecord& SecondHDD,
                                        const std::wstring& cacheSizeText);

// The controller's metadata, its alignment of the cache and WMI's whole cylinders each take a
// few MiB off the data volume; this is well above them and well below the 1.3 GB or more that
// lie between a cache size read as decimal and as binary gigabytes.
inline constexpr unsigned long long kDataVolumeSlackBytes = 256ull << 20;
