// The profile of a simulated notebook: plain data, from a machine profile file or built in code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "sim/core/captured_disk.h"

namespace sim {

// A profile that cannot be used; what() names the file and the key at fault. The loader throws
// it, and so does the machine for what only its run folder can tell (a disk larger than a file
// there can be).
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Partition {
  std::string fs = "ntfs";  // "ntfs", "fat32", "bitlocker", "raw"
  std::wstring label;
  std::uint64_t size_mb = 0;
  wchar_t letter = 0;  // 0: no drive letter
  // Its partition type as the table holds it: a GPT type GUID text on a GPT disk, an MBR type
  // byte ("0x27") on an MBR disk; empty: basic data (a raw partition: Microsoft reserved).
  std::string type;
};

// The storage tool's view of a disk, texts as the tool prints them.
struct RstView {
  std::string id, type, disk_type, state, size, free_size, system_disk, usage, serial, model;
};

// The view's fields by their profile keys (disks[].rst), in the profile's order.
std::vector<std::pair<const char*, std::string*>> RstFields(RstView& view);

struct Rotation {
  enum class Kind { Rate, NoOpen, NoSmart, IdentifyFails };
  Kind kind = Kind::Rate;
  std::uint16_t rate = 0;  // IDENTIFY word 217
};

struct WmiProperty {
  std::wstring name;
  os::WmiValue value;
};

// How Windows sees a disk. The storage controller hides a device it makes a cache and exposes
// the device's space beyond the cache as a disk of its own (a data volume), which goes again
// when the cache is deleted.
enum class DiskRole {
  kDevice,         // a plain disk: in WMI's list, a physical drive, listed by the storage tool
  kCacheDevice,    // taken by the cache: listed by the storage tool only
  kDataVolume,     // the cache device's remainder: in WMI's list and a physical drive
  kDeletedVolume,  // a data volume the storage tool has deleted: gone
  kLateVolume,     // a data volume Windows has not brought up yet (DataVolumeDelay)
};

struct Disk {
  DiskRole role = DiskRole::kDevice;
  std::optional<int> drive;      // n of \\.\PHYSICALDRIVEn; nullopt: no such drive
  std::vector<WmiProperty> wmi;  // Win32_DiskDrive properties, typed as WMI types them
  Rotation rotation;
  std::filesystem::path image;  // a raw disk image; empty: laid out from the fields below
  std::uint64_t size_mb = 0;
  std::string style = "gpt";  // "mbr" or "gpt"; "" (made by the simulator only): blank
  std::vector<Partition> partitions;
  std::map<wchar_t, int> letters;  // for an image disk: letter -> partition number
  std::optional<RstView> rst;      // nullopt: the storage tool does not list this disk

  // A disk captured from a notebook, instead of image, size_mb, style and partitions.
  std::optional<CapturedDisk> captured;
};

// A file laid into the Temp folder before the run, as an earlier run left it.
struct TempFile {
  std::wstring name;  // a plain file name
  std::string bytes;
};

// The cache configuration the storage controller holds before the run (the storage tool's
// state); all empty: none.
struct StorageConfig {
  std::string cache_device;      // tool id of the cache device
  std::string cache_size;        // text given to --cache-size; empty: the whole device
  std::string accelerated_disk;  // tool id of the accelerated disk
  std::string mode;              // "maximized" or "enhanced"; empty: not set
  // The disk number Windows gives the data volume --createCache exposes; nullopt: the number the
  // cache device had. Which number a real controller gives is not published.
  std::optional<int> volume_number;
  // Whether --createCache refuses a device the report lists as a system disk. Whether a real
  // controller does is not published, so by default the tool does what it is told.
  bool refuse_system_disk = false;
  // Whether the data volume --createCache exposes holds the IntelRST partition a create script
  // made before (a reworked unit whose controller keeps the volume's old contents).
  bool volume_holds_intelrst = false;
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
  // Whether diskpart refuses to clean the disk of the running Windows' volume, as Windows does.
  bool diskpart_refuses_system_disk = true;
  // Files Windows keeps at a volume's root ("pagefile.sys", "hiberfil.sys", "swapfile.sys") by
  // the volume's letter: found there by name, in any letter case, while a disk holds the volume.
  std::map<wchar_t, std::vector<std::wstring>> volume_files;
  std::filesystem::path storage_report;  // empty: the report is built from disks[].rst
  StorageConfig storage_config;
  std::vector<Disk> disks;
  std::vector<TempFile> temp_files;    // laid into <windows_dir>\Temp when it exists
  std::vector<std::string> faults;     // "Op" or "Op:target"
  std::vector<std::string> arguments;  // the product's command line when none is given
};

// Whether Windows sees the disk (WMI's list, the physical drives, the drive letters).
inline bool SeenByWindows(const Disk& disk) {
  return disk.role == DiskRole::kDevice || disk.role == DiskRole::kDataVolume;
}

// N of a fault "PowerCut:N" (N >= 1: the power fails once the N-th child process has ended);
// nullopt for any other fault.
std::optional<std::size_t> PowerCutFault(const std::string& fault);
// N and K of a fault "ChildExit:N=K" (N >= 1: the N-th child process ends at once with exit
// code K, 0-4294967295, without running its program); nullopt for any other fault.
std::optional<std::pair<std::size_t, std::uint32_t>> ChildExitFault(const std::string& fault);

// S of a fault "DataVolumeDelay:S" (0-86400: the data volume --createCache exposes is seen by
// Windows S seconds of the run's clock after the cache was made); nullopt for any other fault.
std::optional<std::uint32_t> DataVolumeDelayFault(const std::string& fault);

// The text of the disk's WMI property `name` (as the profile spells it), in UTF-8; empty when the
// disk has none. The drive's own strings (SMART) take text properties only; a person reading the
// account is also shown a number (WmiNumbers::kShown).
enum class WmiNumbers { kSkipped, kShown };
std::string WmiText(const Disk& disk, const wchar_t* name,
                    WmiNumbers numbers = WmiNumbers::kSkipped);

}  // namespace sim
