// The simulated storage tool: its version block, its device report in the real column layout,
// and the cache configuration requests, kept in the "storage_tool" state slot.
#include "sim/programs/storage_tool.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "sim/core/codepages.h"
#include "sim/core/host_file.h"
#include "sim/core/text.h"
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

const RstView* FindDevice(const Machine& machine, const std::string& id) {
  for (const Disk& disk : machine.profile().disks) {
    if (disk.rst && disk.rst->id == id) return &*disk.rst;
  }
  return nullptr;
}

// Sizes as the tool prints them: two decimals and the unit.
std::string Gigabytes(double gb) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f GB", gb);
  return text;
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
  const RstView* ssd =
      state.cache_device.empty() ? nullptr : FindDevice(machine, state.cache_device);
  // The cache takes the size asked for, or the whole device; the rest of the device stays free.
  const double deviceGb = ssd ? std::strtod(ssd->size.c_str(), nullptr) : 0.0;
  const double cacheGb =
      state.cache_size.empty() ? deviceGb : std::strtod(state.cache_size.c_str(), nullptr);
  if (ssd != nullptr) {
    out += Field("ID:", "0") + Field("Name:", "Volume_0000") + Field("Type:", "Cache") +
           Field("Size:", Gigabytes(cacheGb)) + Field("State:", "Normal") +
           Field("Accelerated Disk:", state.accelerated_disk) + Field("Accel Mode:", state.mode) +
           "\r\n";
  }
  out += "--END DEVICE INFORMATION--\r\n\r\n";
  for (const Disk& disk : machine.profile().disks) {
    if (!disk.rst) continue;
    const RstView& v = *disk.rst;
    const bool member = ssd == &v;
    const std::string freeSize =
        member ? (deviceGb - cacheGb < 0.005 ? std::string("0 GB") : Gigabytes(deviceGb - cacheGb))
               : v.free_size;
    out += Field("ID:", v.id) + Field("Type:", v.type) + Field("Disk Type:", v.disk_type) +
           Field("State:", v.state) + Field("Size:", v.size) + Field("Free Size:", freeSize) +
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

std::uint32_t Fail(Machine& machine, const std::string& message) {
  WriteStdout(machine, "Error: " + message + "\r\n");
  return kRstRequestFailed;
}

std::uint32_t Usage(Machine& machine, const std::string& message) {
  WriteStdout(machine, "Error: " + message +
                           "\r\nUsage: RSTCLI -V | -I | -M --delete-all-metadata |"
                           " --accelerate --createCache --SSD ID [--cache-size N] |"
                           " --accelerate --setAccelConfig --disk-to-accel ID"
                           " --mode maximized|enhanced\r\n");
  return kRstUsageError;
}

std::uint32_t PrintReport(Machine& machine) {
  const auto& file = machine.profile().storage_report;
  if (file.empty()) {
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
  const RstView* ssd = FindDevice(machine, id);
  if (ssd == nullptr) return Fail(machine, "device " + id + " not found");
  if (!state.cache_device.empty()) return Fail(machine, "a cache volume already exists");
  std::string size;
  if (auto it = values.find("--cache-size"); it != values.end()) {
    char* end = nullptr;
    const double wanted = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || *end != '\0' || !(wanted > 0)) {
      return Fail(machine, "invalid cache size " + it->second);
    }
    if (wanted > std::strtod(ssd->size.c_str(), nullptr)) {
      return Fail(machine, "cache size " + it->second + " exceeds device " + id);
    }
    size = it->second;
  }
  state.cache_device = id;
  state.cache_size = size;
  WriteStdout(machine, "Cache volume created on device " + id + ".\r\n");
  return 0;
}

std::uint32_t SetAccelConfig(Machine& machine, const std::map<std::string, std::string>& values) {
  StorageToolState& state = StorageTool(machine);
  const std::string& id = values.at("--disk-to-accel");
  const std::string& mode = values.at("--mode");
  if (mode != "maximized" && mode != "enhanced") return Usage(machine, "invalid mode " + mode);
  if (FindDevice(machine, id) == nullptr) return Fail(machine, "device " + id + " not found");
  if (state.cache_device.empty()) return Fail(machine, "no cache volume exists");
  if (id == state.cache_device) return Fail(machine, "device " + id + " is the cache device");
  state.accelerated_disk = id;
  state.mode = mode;
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
    state.metadata_deleted = true;
    state.cache_device.clear();
    state.cache_size.clear();
    state.accelerated_disk.clear();
    state.mode.clear();
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
  // The tool lives in the Temp folder; without that folder there is no tool either.
  if (!machine.profile().storage_tool || !machine.profile().temp_folder) return;
  machine.RegisterProgram(StorageToolPath(machine), RunStorageTool);
}

}  // namespace sim
