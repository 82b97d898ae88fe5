// WMI disk inventory: every Win32_DiskDrive object as a DiskRecord, completed with the disk's
// media kind from the media rotation probe.
#pragma once

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

// Appends one record per disk, in the order WMI returns them (the list is not cleared first).
// True when the enumeration ran to its end, also with no disk or when fetching a disk failed
// part-way; false when COM or WMI failed before the enumeration started.
bool QueryDiskInventory(DiskList* list);
