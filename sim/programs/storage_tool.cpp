// The simulated storage tool: its version block, its device report in the real column layout,
// and the cache configuration requests, kept in the "storage_tool" state slot.
#include "sim/programs/storage_tool.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "sim/core/codepages.h"
#include "sim/core/host_file.h"
#include "sim/core/text.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"
#include "sim/programs/std_streams.h"

namespace sim {

namespace {

constexpr std::size_t kValueColumn = 19;

// The tool prints in the ANSI code page; a character it has no byte for prints as '?'.
std::string EncodeAnsi(const std::string& utf8) {
  std::string out;
  for (wchar_t wc : FromUtf8(utf8)) {
    // A wide character, not a char. NOLINTNEXTLINE(bugprone-signed-char-misuse)
    const std::uint32_t c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char byte = '?';
    for (int i = 0; i < 128; ++i) {
      if (kCp1252[i] == c && c != 0xFFFD) byte = static_cast<char>(0x80 + i);
    }
    out.push_back(byte);
  }
  return out;
}

// "Key:" at column 0, blanks up to the value column, the value, CR LF.
std::string Field(const std::string& key, const std::string& value) {
  std::string line = key;
  line.append(line.size() < kValueColumn ? kValueColumn - line.size() : 1, ' ');
  return line + EncodeAnsi(value) + "\r\n";
}

// Profile index of the disk the tool lists as `id`, or -1.
int FindDevice(const Machine& machine, const std::string& id) {
  const auto& disks = machine.profile().disks;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    if (disks[i].rst && disks[i].rst->id == id) return static_cast<int>(i);
  }
  return -1;
}

constexpr double kMiBPerGiB = 1024.0;

// Sizes as the tool prints them: binary gigabytes, two decimals and the unit.
std::string Gigabytes(double gb) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f GB", gb);
  return text;
}

std::string GigabytesOfMiB(std::uint64_t mib) {
  return Gigabytes(static_cast<double>(mib) / kMiBPerGiB);
}

std::uint64_t DeviceMiB(Machine& machine, int disk) { return DiskBytes(machine, disk) / kMiB; }

// What the cache takes of its device: the size asked for in GiB, rounded up to whole MiB, or the
// whole device.
std::uint64_t CacheMiB(Machine& machine, int device, const std::string& cacheSize) {
  if (cacheSize.empty()) return DeviceMiB(machine, device);
  const double mib = std::ceil(std::strtod(cacheSize.c_str(), nullptr) * kMiBPerGiB);
  // A size beyond any disk (or not a number) is more than the device holds, not a wrapped value.
  if (!(mib < 9.0e18)) return UINT64_MAX;
  return mib > 0 ? static_cast<std::uint64_t>(mib) : 0;
}

// The data volume's Win32_DiskDrive properties: the device's, with the number, model, size and
// partition count of the volume. Geometry follows WMI's rule (255 heads, 63 sectors a track,
// whole cylinders), so Size is a little below the volume's bytes, as on a real disk.
std::vector<WmiProperty> VolumeWmi(const std::vector<WmiProperty>& device,
                                   std::optional<int> number, std::uint64_t bytes) {
  constexpr std::uint64_t kHeads = 255, kSectorsPerTrack = 63;
  const std::uint64_t cylinders = bytes / (kHeads * kSectorsPerTrack * kSectorBytes);
  const std::uint64_t sectors = cylinders * kHeads * kSectorsPerTrack;
  auto integer = [](std::uint64_t v) {
    os::WmiValue value;
    value.kind = os::WmiValue::Kind::Int32;
    value.i32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return value;
  };
  auto text = [](const std::string& v) {
    os::WmiValue value;
    value.kind = os::WmiValue::Kind::Text;
    value.text = FromUtf8(v);
    return value;
  };
  const std::string n = number ? std::to_string(*number) : std::string();
  const std::map<std::wstring, os::WmiValue> changed = {
      {L"Index", number ? integer(static_cast<std::uint64_t>(*number)) : os::WmiValue{}},
      {L"DeviceID", number ? text("\\\\.\\PHYSICALDRIVE" + n) : os::WmiValue{}},
      {L"Model", text(kDataVolumeModel)},
      {L"MediaType", text("Fixed hard disk media")},
      {L"Partitions", integer(0)},
      {L"PNPDeviceID", text("SCSI\\DISK&VEN_INTEL&PROD_RAID_0_VOLUME\\" + n)},
      {L"SerialNumber", os::WmiValue{}},
      {L"Size", text(std::to_string(sectors * kSectorBytes))},
      {L"TotalCylinders", integer(cylinders)},
      {L"TotalHeads", integer(kHeads)},
      {L"TracksPerCylinder", integer(kHeads)},
      {L"SectorsPerTrack", integer(kSectorsPerTrack)},
      {L"TotalTracks", integer(cylinders * kHeads)},
      {L"TotalSectors", integer(sectors)},
      {L"BytesPerSector", integer(kSectorBytes)},
  };
  std::vector<WmiProperty> out;
  for (const WmiProperty& p : device) {
    const auto it = changed.find(p.name);
    // Geometry the device did not report, the volume does not report either.
    out.push_back(it == changed.end() ? p : WmiProperty{p.name, it->second});
  }
  for (const wchar_t* name : {L"Index", L"DeviceID", L"Model", L"MediaType", L"Size"}) {
    bool present = false;
    for (const WmiProperty& p : out) present |= p.name == name;
    if (!present) out.push_back(WmiProperty{name, changed.at(name)});
  }
  return out;
}

// Exposes what the cache leaves of `device` as a new blank disk and returns its index.
int AddDataVolume(Machine& machine, int device, std::uint64_t mib) {
  const Disk& from = machine.profile().disks[static_cast<std::size_t>(device)];
  Disk volume;
  volume.role = DiskRole::kDataVolume;
  const std::optional<int> number = machine.profile().storage_config.volume_number
                                        ? machine.profile().storage_config.volume_number
                                        : from.drive;
  volume.drive = number;
  volume.wmi = VolumeWmi(from.wmi, number, mib * kMiB);
  // The controller answers no SMART request for a volume.
  volume.rotation.kind = Rotation::Kind::NoSmart;
  volume.size_mb = mib;
  volume.style.clear();
  machine.profile().disks.push_back(std::move(volume));
  return static_cast<int>(machine.profile().disks.size() - 1);
}

// A reworked unit's controller may show the volume with what it held before: the partition a
// create script makes, as that script lays it out (GPT on 64-bit Windows, MBR on 32-bit).
void LayOutIntelRstPartition(Machine& machine, int volume) {
  Disk& disk = machine.profile().disks[static_cast<std::size_t>(volume)];
  PartitionSpec intelRst;
  intelRst.bytes = (disk.size_mb - 2) * kMiB;
  const bool gpt = machine.profile().windows_bits == 64;
  if (gpt) {
    intelRst.fs = "fat32";
    intelRst.label = L"IntelRST";
    intelRst.gpt_type = ParseGuid("D3BFE2DE-3DAF-11DF-BA40-E3A556D89593");
    intelRst.gpt_attributes = 0x8000000000000001ull;
  } else {
    intelRst.mbr_type = 0x84;
  }
  if (disk.size_mb <= 2 || !LayOutDisk(machine, volume, gpt ? "gpt" : "mbr", {intelRst})) return;
  for (WmiProperty& p : disk.wmi) {
    if (p.name == L"Partitions") p.value.i32 = 1;
  }
}

// A data volume Windows brings up only `seconds` after the cache was made.
void BringUpLate(Machine& machine, int volume, std::uint32_t seconds) {
  machine.profile().disks[static_cast<std::size_t>(volume)].role = DiskRole::kLateVolume;
  Machine* m = &machine;
  machine.At(machine.elapsed_ms() + std::uint64_t{seconds} * 1000, [m, volume] {
    Disk& disk = m->profile().disks[static_cast<std::size_t>(volume)];
    if (disk.role == DiskRole::kLateVolume) disk.role = DiskRole::kDataVolume;
  });
}

std::string VersionBlock() {
  return "--VERSION INFORMATION--\r\n\r\n" +
         Field("Name:", "Intel(R) Rapid Storage Technology CLI") +
         Field("Version:", "11.7.0.1013") + Field("Build:", "cachesetup-sim") + "\r\n";
}

}  // namespace

std::wstring StorageToolPath(const Machine& machine) {
  const bool is64 = machine.profile().windows_bits == 64;
  return machine.profile().windows_dir + (is64 ? L"\\Temp\\RSTCLI64.exe" : L"\\Temp\\RSTCLI.exe");
}

std::string BuildStorageReport(Machine& machine) {
  const StorageToolState& state = StorageTool(machine);
  std::string out = "--CONTROLLER INFORMATION--\r\n\r\n";
  out += Field("ID:", "0") + Field("Name:", "SATA") + Field("Type:", "SATA") +
         Field("Mode:", "RAID") + Field("Rebuild Support:", "True") +
         Field("Cache Support:", "True") + "\r\n";
  out += "--ARRAY INFORMATION--\r\n\r\n";
  if (!state.cache_device.empty()) {
    out += Field("ID:", "0") + Field("Name:", "SRT_Array") + Field("Disks:", state.cache_device) +
           "\r\n";
  }
  out += "--VOLUME INFORMATION--\r\n\r\n";
  const int device = state.cache_device.empty() ? -1 : FindDevice(machine, state.cache_device);
  if (device >= 0) {
    out += Field("ID:", "0") + Field("Name:", "Volume_0000") + Field("Type:", "Cache") +
           Field("Size:", GigabytesOfMiB(CacheMiB(machine, device, state.cache_size))) +
           Field("State:", "Normal") + Field("Accelerated Disk:", state.accelerated_disk) +
           Field("Accel Mode:", state.mode) + "\r\n";
  }
  if (device >= 0 && state.data_volume >= 0) {
    out += Field("ID:", "1") + Field("Name:", "Volume_0001") + Field("Type:", "Data") +
           Field("Size:", GigabytesOfMiB(DeviceMiB(machine, state.data_volume))) +
           Field("State:", "Normal") + Field("Disks:", state.cache_device) + "\r\n";
  }
  out += "--END DEVICE INFORMATION--\r\n\r\n";
  for (std::size_t i = 0; i < machine.profile().disks.size(); ++i) {
    const Disk& disk = machine.profile().disks[i];
    if (!disk.rst) continue;
    const RstView& v = *disk.rst;
    // The cache and its data volume take the whole member.
    const bool member = static_cast<int>(i) == device;
    out += Field("ID:", v.id) + Field("Type:", v.type) + Field("Disk Type:", v.disk_type) +
           Field("State:", v.state) + Field("Size:", v.size) +
           Field("Free Size:", member ? std::string("0 GB") : v.free_size) +
           Field("System Disk:", v.system_disk) +
           Field("Usage:", member ? std::string("Array member") : v.usage) +
           Field("Serial Number:", v.serial) + Field("Model:", v.model) + "\r\n";
  }
  return out;
}

namespace {

std::vector<std::string> Words(const std::wstring& parameters) {
  std::vector<std::string> words;
  std::istringstream in(ToUtf8(parameters));
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Prints why the tool refuses the command on standard error and keeps it for the account.
void Refuse(Machine& machine, const std::string& message, const std::string& more = "") {
  StorageToolState& state = StorageTool(machine);
  const std::size_t line = machine.transcript().empty() ? 0 : machine.transcript().size() - 1;
  state.refusals.push_back(
      {line, state.commands.empty() ? "" : state.commands.back(), "Error: " + message});
  WriteStderr(machine, "Error: " + message + "\r\n" + more);
}

std::uint32_t Fail(Machine& machine, const std::string& message) {
  Refuse(machine, message);
  return kRstRequestFailed;
}

std::uint32_t Usage(Machine& machine, const std::string& message) {
  Refuse(machine, message,
         "Usage: RSTCLI -V | -I | -M --delete-all-metadata |"
         " --accelerate --createCache --SSD ID [--cache-size N] |"
         " --accelerate --setAccelConfig --disk-to-accel ID"
         " --mode maximized|enhanced\r\n");
  return kRstUsageError;
}

std::uint32_t PrintReport(Machine& machine) {
  const auto& file = machine.profile().storage_report;
  if (file.empty() || StorageTool(machine).reconfigured) {
    WriteStdout(machine, BuildStorageReport(machine));
    return 0;
  }
  const std::optional<std::string> bytes = ReadHostFile(file);
  if (!bytes) return Fail(machine, "cannot read " + file.string());
  WriteStdout(machine, *bytes);
  return 0;
}

std::uint32_t CreateCache(Machine& machine, const std::map<std::string, std::string>& values) {
  StorageToolState& state = StorageTool(machine);
  const std::string& id = values.at("--SSD");
  const int device = FindDevice(machine, id);
  if (device < 0) return Fail(machine, "device " + id + " not found");
  if (!state.cache_device.empty()) {
    return Fail(machine, "a cache volume already exists (on device " + state.cache_device + ")");
  }
  if (machine.profile().storage_config.refuse_system_disk &&
      machine.profile().disks[static_cast<std::size_t>(device)].rst->system_disk == "True")
    return Fail(machine, "device " + id + " is a system disk");
  std::string size;
  if (auto it = values.find("--cache-size"); it != values.end()) {
    char* end = nullptr;
    const double wanted = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || *end != '\0' || !(wanted > 0)) {
      return Fail(machine, "invalid cache size " + it->second);
    }
    if (CacheMiB(machine, device, it->second) > DeviceMiB(machine, device)) {
      return Fail(machine, "cache size " + it->second + " GB exceeds device " + id + " (" +
                               GigabytesOfMiB(DeviceMiB(machine, device)) + ")");
    }
    size = it->second;
  }
  const std::uint64_t remainder = DeviceMiB(machine, device) - CacheMiB(machine, device, size);
  // The cache's data takes the device: the partition tables it held are gone.
  LayOutDisk(machine, device, std::string(), {});
  machine.profile().disks[static_cast<std::size_t>(device)].role = DiskRole::kCacheDevice;
  if (remainder != 0) {
    state.data_volume = AddDataVolume(machine, device, remainder);
    if (machine.profile().storage_config.volume_holds_intelrst) {
      LayOutIntelRstPartition(machine, state.data_volume);
    }
    for (const std::string& fault : machine.profile().faults) {
      if (const auto delay = DataVolumeDelayFault(fault)) {
        BringUpLate(machine, state.data_volume, *delay);
      }
    }
  }
  state.cache_device = id;
  state.cache_size = size;
  state.reconfigured = true;
  WriteStdout(machine, "Cache volume created on device " + id + ".\r\n");
  return 0;
}

// The cache and its data volume go; their member is a plain disk again.
void DeleteAllMetadata(Machine& machine) {
  StorageToolState& state = StorageTool(machine);
  for (Disk& disk : machine.profile().disks) {
    if (disk.role == DiskRole::kCacheDevice) disk.role = DiskRole::kDevice;
    if (disk.role == DiskRole::kDataVolume || disk.role == DiskRole::kLateVolume) {
      disk.role = DiskRole::kDeletedVolume;
    }
  }
  state.metadata_deleted = true;
  state.reconfigured = true;
  state.cache_device.clear();
  state.cache_size.clear();
  state.accelerated_disk.clear();
  state.mode.clear();
  state.data_volume = -1;
}

std::uint32_t SetAccelConfig(Machine& machine, const std::map<std::string, std::string>& values) {
  StorageToolState& state = StorageTool(machine);
  const std::string& id = values.at("--disk-to-accel");
  const std::string& mode = values.at("--mode");
  if (mode != "maximized" && mode != "enhanced") return Usage(machine, "invalid mode " + mode);
  if (FindDevice(machine, id) < 0) return Fail(machine, "device " + id + " not found");
  if (state.cache_device.empty()) return Fail(machine, "no cache volume exists");
  if (id == state.cache_device) return Fail(machine, "device " + id + " is the cache device");
  state.accelerated_disk = id;
  state.mode = mode;
  state.reconfigured = true;
  WriteStdout(machine, "Acceleration of device " + id + " set to " + mode + ".\r\n");
  return 0;
}

std::uint32_t RunStorageTool(Machine& machine, const std::wstring& parameters,
                             const std::wstring& directory) {
  (void)directory;
  StorageToolState& state = StorageTool(machine);
  state.commands.push_back(ToUtf8(parameters));
  static const std::set<std::string> kFlags = {"-V",
                                               "-I",
                                               "-M",
                                               "--delete-all-metadata",
                                               "--accelerate",
                                               "--createCache",
                                               "--setAccelConfig"};
  static const std::set<std::string> kValued = {"--SSD", "--cache-size", "--disk-to-accel",
                                                "--mode"};
  std::set<std::string> flags;
  std::map<std::string, std::string> values;
  const std::vector<std::string> words = Words(parameters);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (kFlags.count(words[i]) != 0) {
      flags.insert(words[i]);
    } else if (kValued.count(words[i]) != 0 && i + 1 < words.size()) {
      values[words[i]] = words[i + 1];
      ++i;
    } else {
      return Usage(machine, "invalid option " + words[i]);
    }
  }
  auto only = [&](std::set<std::string> wantFlags, std::set<std::string> need,
                  std::set<std::string> may) {
    if (flags != wantFlags) return false;
    for (const std::string& n : need) {
      if (values.count(n) == 0) return false;
    }
    for (const auto& [name, value] : values) {
      if (need.count(name) == 0 && may.count(name) == 0) return false;
    }
    return true;
  };
  if (only({"-V"}, {}, {})) {
    WriteStdout(machine, VersionBlock());
    return 0;
  }
  if (only({"-I"}, {}, {})) return PrintReport(machine);
  if (only({"-M", "--delete-all-metadata"}, {}, {})) {
    DeleteAllMetadata(machine);
    WriteStdout(machine, "Metadata deleted on all disks.\r\n");
    return 0;
  }
  if (only({"--accelerate", "--createCache"}, {"--SSD"}, {"--cache-size"})) {
    return CreateCache(machine, values);
  }
  if (only({"--accelerate", "--setAccelConfig"}, {"--disk-to-accel", "--mode"}, {})) {
    return SetAccelConfig(machine, values);
  }
  return Usage(machine, words.empty() ? std::string("no command") : "invalid command");
}

}  // namespace

void SetUpStorageTool(Machine& machine) {
  // The configuration lives on the controller, so it stands whether or not the tool is there.
  StorageToolState& state = StorageTool(machine);
  const StorageConfig& config = machine.profile().storage_config;
  state.cache_device = config.cache_device;
  state.cache_size = config.cache_size;
  state.accelerated_disk = config.accelerated_disk;
  state.mode = config.mode;
  for (std::size_t i = 0; i < machine.profile().disks.size(); ++i) {
    if (machine.profile().disks[i].role == DiskRole::kDataVolume)
      state.data_volume = static_cast<int>(i);
  }
  // The tool lives in the Temp folder; without that folder there is no tool either.
  if (!machine.profile().storage_tool || !machine.profile().temp_folder) return;
  machine.RegisterProgram(StorageToolPath(machine), RunStorageTool);
}

}  // namespace sim
