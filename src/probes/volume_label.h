// Volume labels read straight from a partition's own file-system structures (NTFS, FAT32),
// through an open physical drive, whether or not the partition is mounted.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"
// The observer of every raw read the label readers make (SetVolumeReadObserver).
#include "probes/volume_read.h"

// Result codes shared by the recovery disk locator and the label readers.
inline constexpr std::int32_t kLocatorFound = 0;     // label read / partition or root found
inline constexpr std::int32_t kLocatorNoHandle = 1;  // no drive handle or no label buffer
inline constexpr std::int32_t kLocatorNotFound = 4;  // no label, not read, or no match
inline constexpr std::int32_t kLocatorFailed = 5;    // a read or a system query failed

// The caller's label buffer holds this many characters, terminator included; a longer name is
// cut to fit.
inline constexpr std::size_t kLabelBufferChars = 1024;

// Reads the boot sector at `llStartingOffset` of the drive and hands over to the NTFS or FAT32
// reader. BitLocker volumes and other file systems give kLocatorNotFound.
std::int32_t ReadVolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                             std::int64_t llStartingOffset);
// The name of the NTFS volume file ($Volume, record 3 of the master file table).
std::int32_t ReadNtfsVolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                                 std::int64_t llStartingOffset);
// The volume-label entry of the FAT32 root directory.
std::int32_t ReadFat32VolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                                  std::int64_t llStartingOffset);

// The run-time library's case-insensitive wide comparison: A-Z match a-z, nothing else folds.
bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b);
