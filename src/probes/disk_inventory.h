// WMI disk inventory: every Win32_DiskDrive object as a DiskRecord, completed with the disk's
// media kind from the media rotation probe.
#pragma once

#include "probes/disk_record.h"

// Appends one record per disk, in the order WMI returns them (the list is not cleared first).
// True when the enumeration ran to its end, also with no disk or when fetching a disk failed
// part-way; false when COM or WMI failed before the enumeration started.
bool QueryDiskInventory(DiskList* list);
