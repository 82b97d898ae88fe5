// WMI disk inventory: every Win32_DiskDrive object as a DiskRecord, completed with the disk's
// media kind from the media rotation probe.
#pragma once

#include <functional>

#include "platform/os.h"
#include "probes/disk_record.h"

// The Win32_DiskDrive properties a record is read from, in the order QueryDiskInventory reads
// them (the machine capture records these; a property read there belongs here too).
inline constexpr const wchar_t* kDiskInventoryProperties[] = {L"Description",
                                                              L"DeviceID",
                                                              L"Index",
                                                              L"InterfaceType",
                                                              L"Manufacturer",
                                                              L"MediaLoaded",
                                                              L"MediaType",
                                                              L"Model",
                                                              L"Partitions",
                                                              L"PNPDeviceID",
                                                              L"SCSIBus",
                                                              L"SCSILogicalUnit",
                                                              L"SCSIPort",
                                                              L"SCSITargetId",
                                                              L"SerialNumber",
                                                              L"Signature",
                                                              L"Size",
                                                              L"Status",
                                                              L"SystemCreationClassName",
                                                              L"SystemName"};

// The steps of the Win32_DiskDrive query, to say which one failed.
enum class DiskQueryStep {
  kNone,
  kCreateLocator,
  kConnectServer,
  kProxyBlanket,
  kExecQuery,
  kNext
};

// With COM already started: "SELECT * FROM Win32_DiskDrive" in ROOT\CIMV2, calling `each` with
// every object while it is held, in the order WMI returns them. Returns the step that failed,
// kNone when the enumeration ran to its end; a failing fetch (kNext) ends it after the objects
// before it.
DiskQueryStep EnumerateDiskDrives(const std::function<void(const os::ComRef& object)>& each);

// The record of one disk from its property values: `property` is asked for each name of
// kDiskInventoryProperties, in that order, and gives null for a value it cannot give. Texts end
// at their first zero; a null or mistyped value gives the field's empty value.
DiskRecord DiskRecordFromProperties(
    const std::function<os::WmiValue(const wchar_t* name)>& property);

// Appends one record per disk, in the order WMI returns them (the list is not cleared first).
// True when the enumeration ran to its end, also with no disk or when fetching a disk failed
// part-way; false when COM or WMI failed before the enumeration started.
bool QueryDiskInventory(DiskList* list);
