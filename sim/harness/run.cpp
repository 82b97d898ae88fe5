#include "sim/harness/run.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/entry.h"
#include "app/run_environment.h"
#include "sim/programs/diskpart.h"
#include "sim/disks/drive_image.h"
#include "sim/devices/physical_drive.h"
#include "sim/programs/storage_tool.h"

namespace sim {

namespace {

struct DisksBeforeState : Machine::State {
  bool taken = false;
  std::vector<DiskView> disks;
};

std::string TypeName(const std::string& type) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Basic data"},
      {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
      {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
      {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
      {"D3BFE2DE-3DAF-11DF-BA40-E3A556D89593", "Intel Rapid Start"},
      {"0x07", "NTFS/exFAT"},
      {"0x0B", "FAT32"},
      {"0x0C", "FAT32 (LBA)"},
      {"0x27", "Windows recovery"},
      {"0x84", "Intel Rapid Start"},
  };
  for (const auto& [code, name] : kNames) {
    if (type == code) return name;
  }
  return std::string();
}

std::string Hex64(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::vector<DiskView> ViewDisks(Machine& machine) {
  std::vector<DiskView> views;
  for (std::size_t i = 0; i < machine.profile().disks.size(); ++i) {
    const int disk = static_cast<int>(i);
    DiskView v;
    v.disk = disk;
    v.drive = machine.profile().disks[i].drive;
    v.bytes = DiskBytes(machine, disk);
    const DiskLayout layout = ReadDiskLayout(machine, disk);
    v.style = layout.style == DiskLayout::kGpt   ? "gpt"
              : layout.style == DiskLayout::kMbr ? "mbr"
                                                 : "raw";
    for (const PartitionSummary& s : ListPartitions(machine, disk)) {
      PartitionView p;
      p.number = s.number;
      p.offset = s.offset;
      p.length = s.length;
      p.type = s.type;
      p.type_name = TypeName(s.type);
      p.fs = s.volume.fs;
      if (s.volume.label) p.label = ToUtf8(*s.volume.label);
      if (layout.style == DiskLayout::kGpt) {
        for (const LayoutEntry& e : layout.entries) {
          if (e.number == s.number) p.attributes = e.gpt_attributes;
        }
      }
      v.partitions.push_back(p);
    }
    views.push_back(v);
  }
  return views;
}

void SnapshotDisks(Machine& machine) {
  DisksBeforeState& state = machine.state<DisksBeforeState>("disks_before");
  state.disks = ViewDisks(machine);
  state.taken = true;
}

const std::vector<DiskView>* DisksBefore(Machine& machine) {
  DisksBeforeState& state = machine.state<DisksBeforeState>("disks_before");
  return state.taken ? &state.disks : nullptr;
}

int RunProduct(Machine& machine, const std::wstring& commandLine) {
  SnapshotDisks(machine);
  ResetRunEnvironment();
  return CacheSetupMain(commandLine.c_str());
}

std::wstring JoinCommandLine(const std::vector<std::string>& args) {
  std::wstring line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += L' ';
    const std::wstring w = FromUtf8(arg);
    if (w.empty() || w.find_first_of(L" \t") != std::wstring::npos) {
      line += L'"' + w + L'"';
    } else {
      line += w;
    }
  }
  return line;
}

std::string TranscriptText(const Machine& machine) {
  std::string out;
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind == "run") {
      out += "run\t" + ToUtf8(e.program) + "\t" + ToUtf8(e.parameters) + "\t" +
             std::to_string(e.value) + "\n";
    } else {
      out += e.kind + "\t" + std::to_string(e.value) + "\n";
    }
  }
  return out;
}

std::string AfterJson(Machine& machine) {
  using Json = nlohmann::ordered_json;
  auto orNull = [](const std::string& text) { return text.empty() ? Json() : Json(text); };
  Json after;
  after["elapsed_ms"] = machine.elapsed_ms();
  after["disks"] = Json::array();
  for (const DiskView& d : ViewDisks(machine)) {
    Json disk;
    disk["disk"] = d.disk;
    disk["drive"] = d.drive ? Json(*d.drive) : Json();
    disk["style"] = d.style;
    disk["size"] = d.bytes;
    disk["partitions"] = Json::array();
    for (const PartitionView& p : d.partitions) {
      Json part;
      part["number"] = p.number;
      part["offset"] = p.offset;
      part["size"] = p.length;
      part["type"] = p.type;
      part["type_name"] = orNull(p.type_name);
      part["fs"] = p.fs;
      part["label"] = p.label ? Json(*p.label) : Json();
      if (p.attributes) part["attributes"] = Hex64(*p.attributes);
      disk["partitions"].push_back(part);
    }
    after["disks"].push_back(disk);
  }
  const StorageToolState& tool = StorageTool(machine);
  Json storage;
  storage["present"] = machine.FindProgram(StorageToolPath(machine)) != nullptr;
  storage["metadata_deleted"] = tool.metadata_deleted;
  storage["cache_device"] = orNull(tool.cache_device);
  // The size given to --cache-size, in GB; "whole device" when the cache took all of it.
  storage["cache_size"] = tool.cache_device.empty()
                              ? Json()
                              : Json(tool.cache_size.empty() ? "whole device" : tool.cache_size);
  storage["accelerated_disk"] = orNull(tool.accelerated_disk);
  storage["mode"] = orNull(tool.mode);
  storage["commands"] = tool.commands;
  after["storage_tool"] = storage;
  after["diskpart"] = Json::array();
  for (const DiskpartRun& run : Diskpart(machine).runs) {
    Json r;
    r["script"] = ToUtf8(run.script);
    r["lines"] = run.lines;
    r["applied"] = run.applied;
    r["failed_line"] = orNull(run.failed_line);
    r["exit_code"] = run.exit_code;
    after["diskpart"].push_back(r);
  }
  return after.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteRunFiles(Machine& machine) {
  std::ofstream transcript(machine.root() / "transcript.tsv", std::ios::binary);
  transcript << TranscriptText(machine);
  std::ofstream after(machine.root() / "after.json", std::ios::binary);
  after << AfterJson(machine);
  return static_cast<bool>(transcript) && static_cast<bool>(after);
}

}  // namespace sim
