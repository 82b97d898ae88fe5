// Windows' own word on the disks, beside the storage tool's: before the clean script, that the
// second disk holds nothing Windows runs or boots from and does not spin; after the cache, that
// the disk chosen as its data volume holds no part of Windows. The tool and diskpart act on
// whatever disk they are told, so these refusals come before anything runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probes/disk_record.h"

// Files Windows keeps open at a volume's root while it pages, swaps or hibernates onto it.
inline constexpr const wchar_t* kRootSystemFiles[] = {L"pagefile.sys", L"swapfile.sys",
                                                      L"hiberfil.sys"};

// The disk numbers the volume of the Windows folder `windowsDir` ("C:\Windows": the volume of
// "C:\") lies on, from its disk extents; nullopt when the folder names no drive letter, or the
// volume does not open or answer, or lies on no disk. Each number once, in extent order.
std::optional<std::vector<std::uint32_t>> WindowsVolumeDisks(const std::wstring& windowsDir);

struct DiskEvidence {
  bool holds = false;
  std::wstring found;  // when it does not hold: everything found, for one run-log line
};

// SecondHDD may be cleaned: the Windows folder's volume lies on MasterHDD and no other disk;
// SecondHDD's layout can be read and holds no EFI system partition, no Windows recovery partition
// and no partition labelled "Recovery"; no drive letter's volume on SecondHDD holds a page,
// swap or hibernation file at its root; SecondHDD's IDENTIFY data does not give a rotation rate.
DiskEvidence CheckSecondDiskEvidence(const std::wstring& windowsDir, const DiskRecord& MasterHDD,
                                     const DiskRecord& SecondHDD);

// Whether the disk holds one partition, the IntelRST partition a create script makes (by type,
// and on GPT by its label): a provisioned unit's data volume, or a reworked unit's come back.
bool HoldsOnlyIntelRstPartition(std::uint32_t driveNumber);
