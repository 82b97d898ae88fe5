// Which disks are fixed disks, which is the master and which the second disk, which storage-tool
// devices become the cache and the accelerated disk, and how large the cache is made.
#pragma once

#include <cstdint>
#include <string>

#include "probes/disk_record.h"
#include "textout/log_writer.h"
#include "tools/rst_report.h"

// "Fixed hard disk media" exactly: same length, same code units, letter case distinguished.
bool IsFixedDisk(const DiskRecord& disk);

int CountFixedDisks(const DiskList& disks);

// Walks the fixed disks in inventory order: the first whose Index is nRecoveryDiskIndex becomes
// MasterHDD, every other one overwrites SecondHDD. One run-log line per fixed disk. Returns
// whether MasterHDD was assigned.
bool AssignDiskRoles(const DiskList& disks, std::int32_t nRecoveryDiskIndex, DiskRecord& MasterHDD,
                     DiskRecord& SecondHDD, LogWriter& runLog);

// The first device with the smallest Size (compared unsigned) below 999999; "0-1-0-0" when none.
// *smallestSize receives that size, or 999999 when no device is smaller.
std::wstring SelectCacheDevice(const RstDeviceList& devices, std::uint32_t* smallestSize);

// The first device with the largest Size (compared unsigned) above 0; "0-0-0-0" when none.
std::wstring SelectDiskToAccelerate(const RstDeviceList& devices);

// The cache size in the tool's unit: the smallest size less the memory term (whole gigabytes
// above 4096 MB, else 4) and 0.5, at least 18.6; always 18.6 on 32-bit Windows.
double ComputeCacheSize(std::uint32_t smallestSize, std::uint32_t nInstalledMemoryMB,
                        int bIs64BitOS);

// The cache size as the "--cache-size" argument prints it ("%.1f").
std::wstring FormatCacheSize(double cacheSize);
