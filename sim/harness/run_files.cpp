#include "sim/harness/run_files.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/entry.h"
#include "environment/run_environment.h"
#include "sim/core/text.h"
#include "sim/harness/after_machine.h"
#include "sim/harness/disk_views.h"
#include "sim/programs/diskpart.h"
#include "sim/programs/storage_tool.h"

namespace sim {

namespace {

std::string Hex64(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

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

nlohmann::ordered_json DiskJson(const DiskView& d) {
  using Json = nlohmann::ordered_json;
  auto orNull = [](const std::string& text) { return text.empty() ? Json() : Json(text); };
  Json disk;
  disk["disk"] = d.disk;
  disk["drive"] = d.drive ? Json(*d.drive) : Json();
  disk["role"] = d.role;
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
  return disk;
}

std::string AfterJson(Machine& machine) {
  using Json = nlohmann::ordered_json;
  auto orNull = [](const std::string& text) { return text.empty() ? Json() : Json(text); };
  Json after;
  after["elapsed_ms"] = machine.elapsed_ms();
  after["disks"] = Json::array();
  for (const DiskView& d : ViewDisks(machine)) after["disks"].push_back(DiskJson(d));
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
  std::ofstream transcript(machine.root() / kTranscriptFile, std::ios::binary);
  transcript << TranscriptText(machine);
  std::ofstream after(machine.root() / kAfterJsonFile, std::ios::binary);
  after << AfterJson(machine);
  const bool afterMachine = WriteAfterMachine(machine);
  return static_cast<bool>(transcript) && static_cast<bool>(after) && afterMachine;
}

}  // namespace sim
