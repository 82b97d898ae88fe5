// What the machine capture found on a notebook: each answer the product's probes would get
// before its first decision, and the platform steps that failed, as plain records.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"
#include "probes/disk_extents.h"
#include "probes/disk_record.h"
#include "probes/drive_layout.h"
#include "probes/firmware.h"
#include "probes/media_rotation.h"

// One Win32_DiskDrive property the inventory reads, as WMI handed it over.
struct CapturedProperty {
  std::wstring name;
  os::WmiValue value;
};
using CapturedWmiDisk = std::vector<CapturedProperty>;

// The value of property `name` of a WMI disk; nullptr when there is no disk or no such property.
inline const os::WmiValue* FindProperty(const CapturedWmiDisk* disk, const wchar_t* name) {
  if (disk == nullptr) return nullptr;
  for (const CapturedProperty& p : *disk) {
    if (p.name == name) return &p.value;
  }
  return nullptr;
}

// One physical drive that opened for reading.
struct CapturedDrive {
  int number = 0;
  std::uint64_t bytes = 0;            // the drive's length
  std::optional<DriveLayout> layout;  // nullopt: the layout query failed
  MediaRotationReading rotation;      // the rotation probe's steps
  bool readsFail = false;             // a whole-sector read at its start failed
  // The first sector of the first partition-table read that failed after the first sector: the
  // replay fails that read too, and cannot lay out a table it lacks.
  std::optional<std::uint64_t> tableReadFailedAt;
  std::map<std::uint64_t, std::string> sectors;  // bytes read, by offset, in 512-byte pieces
};

// One drive root with the volume's label and its extents on the physical drives.
struct CapturedLetter {
  wchar_t letter = 0;
  std::optional<std::wstring> label;               // nullopt: the label query failed
  std::optional<std::vector<DiskExtent>> extents;  // nullopt: the extents query failed
  std::vector<std::wstring> systemFiles;           // page, swap, hibernation files at its root
};

struct CapturedFeature {
  FirmwareReading reading = FirmwareReading::kNoDevice;
  std::uint32_t value = 0;  // the answer's data word when answered
};

struct MachineRecord {
  int bits = 32;
  std::wstring windowsDir, systemDir;  // empty when the folder query failed
  bool tempFolder = false;
  os::LocalTime clock;
  std::optional<std::uint64_t> memoryKb;  // nullopt: the memory query failed
  bool installer = false;
  std::array<CapturedFeature, 4> features;  // in kFirmwareFeatures order
  std::vector<CapturedWmiDisk> wmiDisks;    // in WMI order
  DiskList inventory;  // the inventory's records of wmiDisks (their media kind not probed)
  std::vector<CapturedDrive> drives;  // by drive number
  std::vector<CapturedLetter> letters;
  bool storageTool = false;
  std::optional<std::string> storageReport;  // the tool's "-I" report, when it was run
  std::vector<std::string> faults;           // the failing steps, by their fault names
};
