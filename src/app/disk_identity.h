// The proof, before any disk is changed, that the storage tool's devices the sequence aims at
// are the disks Windows listed in those roles: the cache device is SecondHDD and the disk to
// accelerate is MasterHDD. The tool and diskpart act on whatever they are told, so a wrong id or
// number here would wipe another disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "probes/disk_record.h"
#include "tools/rst_report.h"

// Whether a serial number from the tool's report names the disk whose WMI SerialNumber is
// `wmiSerial`. Blanks around either are ignored, and an empty serial matches nothing. Besides
// the same text, WMI's older forms are accepted: each pair of characters swapped (the ATA
// field's byte order, as WMI gave it before Windows 8), and the field as hexadecimal text of its
// bytes (some drivers), itself straight or pair-swapped.
bool SerialNumbersMatch(const std::wstring& reportSerial, const std::wstring& wmiSerial);

// WMI's Size text (a decimal number of bytes) as a number; nullopt for any other text or one
// beyond 64 bits.
std::optional<std::uint64_t> ParseWmiSize(const std::wstring& text);

// Whether the report's whole-number size (the printed size with its fraction dropped) fits a
// WMI Size in bytes. The report's unit is not published, so decimal and binary gigabytes both
// count; WMI's size may lie a little below the device's (whole cylinders, and the report's two
// decimals may have rounded up).
bool SizesAgree(std::uint32_t reportSize, const std::wstring& wmiSizeBytes);

// The one record of `devices` with this id; nullptr when none has it, or more than one.
const RstDeviceRecord* FindRstDevice(const RstDeviceList& devices, const std::wstring& id);

struct IdentityProof {
  bool holds = false;
  // When it does not hold: what did not match, then the ids, disk numbers, serials and sizes as
  // read, for one run-log line.
  std::wstring mismatch;
};

// The cache device must be SecondHDD and the disk to accelerate MasterHDD, each by serial number
// (matching no other disk of the inventory) and by size; the cache device must not be the
// report's system disk, the two ids must name two devices, and both role disks must be fixed.
IdentityProof ProveDiskIdentity(const DiskList& disks, const DiskRecord& MasterHDD,
                                const DiskRecord& SecondHDD, const RstDeviceList& devices,
                                const std::wstring& cacheDeviceId,
                                const std::wstring& diskToAccelerateId);
