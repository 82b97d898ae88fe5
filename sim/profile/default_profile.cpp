// The built-in default notebook: the typical production-line machine.
#include "sim/profile/default_profile.h"

namespace sim {

const char* const kDefaultProfileJson = R"json({
  "comment": "64-bit Windows 8, 8192 MB, a 500 GB hard disk with Recovery and a 32 GiB SSD",
  "windows": { "bits": 64 },
  "clock": "2013-06-03 09:00:00",
  "memory_kb": 8388608,
  "firmware": { "IFFS": true, "RAID0": false, "ISRT": true, "Diskeeper": true },
  "installer": true,
  "storage_tool": true,
  "disks": [
    {
      "wmi": {
        "Description": "Disk drive", "DeviceID": "\\\\.\\PHYSICALDRIVE0", "Index": 0,
        "InterfaceType": "IDE", "Manufacturer": "(Standard disk drives)", "MediaLoaded": true,
        "MediaType": "Fixed hard disk media", "Model": "HGST HTS545050A7E380",
        "Partitions": 4, "PNPDeviceID": "SCSI\\DISK&VEN_HGST&PROD_HTS545050A7E380\\4&1A2B3C4D&0&000000",
        "SCSIBus": 0, "SCSILogicalUnit": 0, "SCSIPort": 0, "SCSITargetId": 0,
        "SerialNumber": "TE85113Q0V8K3R", "Signature": 0, "Size": "500105249280",
        "Status": "OK", "SystemCreationClassName": "Win32_ComputerSystem", "SystemName": "NOTEBOOK"
      },
      "rotation": 5400,
      "size_mb": 476940,
      "style": "gpt",
      "partitions": [
        { "fs": "fat32", "label": "SYSTEM", "size_mb": 260, "type": "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" },
        { "fs": "raw", "size_mb": 128, "type": "E3C9E316-0B5C-4DB8-817D-F92DF00215AE" },
        { "fs": "ntfs", "label": "Windows", "size_mb": 456000, "letter": "C",
          "type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" },
        { "fs": "ntfs", "label": "Recovery", "size_mb": 20000, "letter": "D",
          "type": "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC" }
      ],
      "rst": {
        "id": "0-0-0-0", "type": "Disk", "disk_type": "SATA", "state": "Normal",
        "size": "465.76 GB", "free_size": "0 GB", "system_disk": "True", "usage": "Available",
        "serial": "TE85113Q0V8K3R", "model": "HGST HTS545050A7E380"
      }
    },
    {
      "wmi": {
        "Description": "Disk drive", "DeviceID": "\\\\.\\PHYSICALDRIVE1", "Index": 1,
        "InterfaceType": "IDE", "Manufacturer": "(Standard disk drives)", "MediaLoaded": true,
        "MediaType": "Fixed hard disk media", "Model": "SanDisk SSD i100 32GB",
        "Partitions": 0, "PNPDeviceID": "SCSI\\DISK&VEN_SANDISK&PROD_SSD_I100_32GB\\4&1A2B3C4D&0&010000",
        "SCSIBus": 0, "SCSILogicalUnit": 0, "SCSIPort": 1, "SCSITargetId": 0,
        "SerialNumber": "131572400123", "Signature": 0, "Size": "34357094400",
        "Status": "OK", "SystemCreationClassName": "Win32_ComputerSystem", "SystemName": "NOTEBOOK"
      },
      "rotation": 1,
      "size_mb": 32768,
      "style": "gpt",
      "partitions": [],
      "rst": {
        "id": "0-1-0-0", "type": "Disk", "disk_type": "SATA", "state": "Normal",
        "size": "32.00 GB", "free_size": "32.00 GB", "system_disk": "False", "usage": "Available",
        "serial": "131572400123", "model": "SanDisk SSD i100 32GB"
      }
    }
  ]
})json";

}  // namespace sim
