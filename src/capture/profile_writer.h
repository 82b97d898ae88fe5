// Writes a capture as a machine profile folder that cachesetup-sim loads: machine.json, one
// diskN.pieces file per captured drive, and the storage tool's report when it was taken.
#pragma once

#include <string>

#include "capture/machine_record.h"
#include "platform/pieces_file.h"

// The profile's disks, each a WMI disk and/or a physical drive, as the replay lays them out.
struct ProfileDisk {
  const CapturedWmiDisk* wmi = nullptr;      // nullptr: a drive WMI did not list
  const CapturedDrive* drive = nullptr;      // nullptr: no physical drive behind it
  std::map<wchar_t, std::uint32_t> letters;  // drive letter -> partition number
  std::optional<std::wstring> rstId;         // the storage tool's device on this disk
  std::wstring rstSize;
  bool rstSystemDisk = false;  // the storage tool does not make a system disk its cache
};

// Pairs WMI disks with drives (a disk's own Index first, then the rest in order), places the
// drive letters and ties the storage tool's devices to disks (by serial number, else the next
// disk without one).
std::vector<ProfileDisk> AssembleDisks(const MachineRecord& record);

// machine.json's text (UTF-8).
std::string MachineJson(const MachineRecord& record, const std::vector<ProfileDisk>& disks);

// The pieces of a drive's pieces file (platform/pieces_file.h): the sectors read, adjacent ones
// joined, sectors of zeros and bytes past the drive's length left out.
std::vector<pieces_file::Piece> DrivePieces(const CapturedDrive& drive);

// The file name of drive n's pieces inside the capture folder.
std::wstring PiecesFileName(int driveNumber);

// Writes machine.json and the pieces files into `outDir`. False when a file cannot be written.
bool WriteProfileFolder(const std::wstring& outDir, const MachineRecord& record,
                        const std::vector<ProfileDisk>& disks);
