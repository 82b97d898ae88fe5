#include "sim/harness/after_machine.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include "sim/core/text.h"
#include "sim/disks/disk_image.h"
#include "sim/programs/storage_tool.h"

namespace sim {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string ClockText(const os::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// A path in the profile: relative to the root, where after-machine.json lies.
std::string Relative(const Machine& machine, const fs::path& path) {
  return path.lexically_relative(machine.root()).generic_string();
}

fs::path DiskCopy(const Machine& machine, std::size_t disk) {
  return machine.root() / kAfterMachineFolder / ("disk" + std::to_string(disk) + ".img");
}

fs::path ReportCopy(const Machine& machine) {
  return machine.root() / kAfterMachineFolder / "storage_report.txt";
}

Json WmiJson(const std::vector<WmiProperty>& properties) {
  Json wmi = Json::object();
  for (const WmiProperty& p : properties) {
    const std::string name = ToUtf8(p.name);
    switch (p.value.kind) {
      case os::WmiValue::Kind::Text:
        wmi[name] = ToUtf8(p.value.text);
        break;
      case os::WmiValue::Kind::Int32:
        wmi[name] = p.value.i32;
        break;
      case os::WmiValue::Kind::Bool:
        wmi[name] = p.value.boolean;
        break;
      case os::WmiValue::Kind::Null:
      case os::WmiValue::Kind::Other:
        wmi[name] = nullptr;
        break;
    }
  }
  return wmi;
}

Json RotationJson(const Rotation& rotation) {
  switch (rotation.kind) {
    case Rotation::Kind::NoOpen:
      return "no-open";
    case Rotation::Kind::NoSmart:
      return "no-smart";
    case Rotation::Kind::IdentifyFails:
      return "identify-fails";
    case Rotation::Kind::Rate:
      break;
  }
  return rotation.rate;
}

// Texts by key, the empty ones left out (an absent key reads as empty).
Json Texts(const std::vector<std::pair<const char*, std::string*>>& fields) {
  Json object = Json::object();
  for (const auto& [key, value] : fields) {
    if (!value->empty()) object[key] = *value;
  }
  return object;
}

Json DiskJson(const Machine& machine, std::size_t index) {
  const Disk& d = machine.profile().disks[index];
  Json disk;
  // A cache device's role follows from storage_config.
  // A volume still coming up when the run ended is there once Windows starts again.
  if (d.role == DiskRole::kDataVolume || d.role == DiskRole::kLateVolume) {
    disk["role"] = "data-volume";
  }
  disk["wmi"] = WmiJson(d.wmi);
  disk["drive"] = d.drive ? Json(*d.drive) : Json();
  disk["rotation"] = RotationJson(d.rotation);
  disk["image"] = Relative(machine, DiskCopy(machine, index));
  // A laid-out disk numbers its partitions 1, 2, ... in profile order; an image disk names its
  // letters by partition number, as the copy does.
  std::map<wchar_t, int> letters = d.letters;
  if (d.image.empty()) {
    for (std::size_t p = 0; p < d.partitions.size(); ++p) {
      if (d.partitions[p].letter != 0) letters[d.partitions[p].letter] = static_cast<int>(p + 1);
    }
  }
  Json byLetter = Json::object();
  for (const auto& [letter, number] : letters) {
    byLetter[std::string(1, static_cast<char>(letter))] = number;
  }
  disk["letters"] = byLetter;
  if (d.rst) {
    RstView v = *d.rst;
    disk["rst"] = Texts(RstFields(v));
  }
  return disk;
}

// The files in the Temp folder, by name.
std::vector<fs::path> TempFiles(const Machine& machine) {
  std::vector<fs::path> files;
  std::error_code ec;
  const auto temp = machine.HostPath(machine.profile().windows_dir + L"\\Temp");
  if (!temp) return files;
  for (const auto& entry : fs::directory_iterator(*temp, ec)) {
    if (entry.is_regular_file(ec)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::string AfterMachineJson(Machine& machine) {
  const Profile& p = machine.profile();
  Json out;
  out["comment"] = "the machine as the cachesetup-sim run in this folder left it";
  std::error_code ec;
  const auto tempFolder = machine.HostPath(p.windows_dir + L"\\Temp");
  const bool temp = tempFolder && fs::is_directory(*tempFolder, ec);
  out["windows"] = {{"bits", p.windows_bits},
                    {"windows_dir", ToUtf8(p.windows_dir)},
                    {"system_dir", ToUtf8(p.system_dir)},
                    {"temp_folder", temp}};
  out["clock"] = ClockText(machine.Now());
  out["memory_kb"] = p.memory_kb ? Json(*p.memory_kb) : Json();
  if (p.firmware) {
    out["firmware"] = {{"IFFS", p.firmware->IFFS},
                       {"RAID0", p.firmware->RAID0},
                       {"ISRT", p.firmware->ISRT},
                       {"Diskeeper", p.firmware->Diskeeper}};
  } else {
    out["firmware"] = nullptr;
  }
  out["installer"] = p.installer;
  out["storage_tool"] = machine.FindProgram(StorageToolPath(machine)) != nullptr;
  const StorageToolState& tool = StorageTool(machine);
  // The report the run started from describes the controller only while no command changed it;
  // once one did, the next run's tool builds its report from the disks and storage_config.
  if (!p.storage_report.empty() && !tool.reconfigured) {
    out["storage_report"] = Relative(machine, ReportCopy(machine));
  }
  StorageConfig config{tool.cache_device,
                       tool.cache_size,
                       tool.accelerated_disk,
                       tool.mode,
                       p.storage_config.volume_number,
                       p.storage_config.refuse_system_disk};
  out["storage_config"] = Texts({{"cache_device", &config.cache_device},
                                 {"cache_size", &config.cache_size},
                                 {"accelerated_disk", &config.accelerated_disk},
                                 {"mode", &config.mode}});
  if (config.volume_number) out["storage_config"]["volume_number"] = *config.volume_number;
  if (config.refuse_system_disk) out["storage_config"]["refuse_system_disk"] = true;
  if (p.storage_config.volume_holds_intelrst) {
    out["storage_config"]["volume_holds_intelrst"] = true;
  }
  if (!p.diskpart_refuses_system_disk) out["diskpart_refuses_system_disk"] = false;
  if (!p.volume_files.empty()) {
    Json files = Json::object();
    for (const auto& [letter, names] : p.volume_files) {
      Json list = Json::array();
      for (const std::wstring& name : names) list.push_back(ToUtf8(name));
      files[std::string(1, static_cast<char>(letter))] = list;
    }
    out["volume_files"] = files;
  }
  out["disks"] = Json::array();
  for (std::size_t i = 0; i < p.disks.size(); ++i) {
    if (p.disks[i].role != DiskRole::kDeletedVolume) out["disks"].push_back(DiskJson(machine, i));
  }
  if (temp) {
    Json files = Json::object();
    for (const fs::path& file : TempFiles(machine)) {
      files[file.filename().string()] = Relative(machine, file);
    }
    out["temp_files"] = files;
  }
  out["arguments"] = p.arguments;
  out["faults"] = Json::array();
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteAfterMachine(Machine& machine) {
  const Profile& p = machine.profile();
  bool ok = true;
  for (std::size_t i = 0; i < p.disks.size(); ++i) {
    if (p.disks[i].role == DiskRole::kDeletedVolume) continue;
    ok = CopyDiskImage(machine, static_cast<int>(i), DiskCopy(machine, i)) && ok;
  }
  std::error_code ec;
  if (!p.storage_report.empty() && !StorageTool(machine).reconfigured) {
    fs::create_directories(ReportCopy(machine).parent_path(), ec);
    // A report that cannot be read stays so: the copy is missing as the original is.
    fs::copy_file(p.storage_report, ReportCopy(machine), fs::copy_options::overwrite_existing, ec);
  }
  std::ofstream json(machine.root() / kAfterMachineFile, std::ios::binary);
  json << AfterMachineJson(machine);
  return static_cast<bool>(json) && ok;
}

}  // namespace sim
