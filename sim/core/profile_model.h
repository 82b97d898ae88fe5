// The profile of a simulated notebook: plain data, from a machine profile file or built in code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace sim {

struct Partition {
  std::string fs = "ntfs";  // "ntfs", "fat32", "bitlocker", "raw"
  std::wstring label;
  std::uint64_t size_mb = 0;
  wchar_t letter = 0;  // 0: no drive letter
};

// The storage tool's view of a disk, texts as the tool prints them.
struct RstView {
  std::string id, type, disk_type, state, size, free_size, system_disk, usage, serial, model;
};

struct Rotation {
  enum class Kind { Rate, NoOpen, NoSmart, IdentifyFails };
  Kind kind = Kind::Rate;
  std::uint16_t rate = 0;  // IDENTIFY word 217
};

struct WmiProperty {
  std::wstring name;
  os::WmiValue value;
};

struct Disk {
  std::optional<int> drive;      // n of \\.\PHYSICALDRIVEn; nullopt: no such drive
  std::vector<WmiProperty> wmi;  // Win32_DiskDrive properties, typed as WMI types them
  Rotation rotation;
  std::filesystem::path image;  // a raw disk image; empty: laid out from the fields below
  std::uint64_t size_mb = 0;
  std::string style = "gpt";  // "mbr" or "gpt"
  std::vector<Partition> partitions;
  std::map<wchar_t, int> letters;  // for an image disk: letter -> partition number
  std::optional<RstView> rst;      // nullopt: the storage tool does not list this disk
};

struct Firmware {
  bool IFFS = false, RAID0 = false, ISRT = false, Diskeeper = false;
};

struct Profile {
  std::wstring source = L"(built-in default notebook)";  // shown in the account
  int windows_bits = 64;
  std::wstring windows_dir = L"C:\\Windows";
  std::wstring system_dir = L"C:\\Windows\\system32";
  bool temp_folder = true;
  os::LocalTime clock{2013, 6, 3, 9, 0, 0};
  std::optional<std::uint64_t> memory_kb = 8388608;  // nullopt: the memory query fails
  std::optional<Firmware> firmware = Firmware{};     // nullopt: no control device
  bool installer = false;
  bool storage_tool = true;
  std::filesystem::path storage_report;  // empty: the report is built from disks[].rst
  std::vector<Disk> disks;
  std::vector<std::string> faults;     // "Op" or "Op:target"
  std::vector<std::string> arguments;  // the product's command line when none is given
};

// The text of the disk's WMI property `name` (as the profile spells it), in UTF-8; empty when the
// disk has none. The drive's own strings (SMART) take text properties only; a person reading the
// account is also shown a number (WmiNumbers::kShown).
enum class WmiNumbers { kSkipped, kShown };
std::string WmiText(const Disk& disk, const wchar_t* name,
                    WmiNumbers numbers = WmiNumbers::kSkipped);

}  // namespace sim
