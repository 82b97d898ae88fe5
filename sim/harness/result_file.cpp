#include "sim/harness/result_file.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/entry.h"
#include "sim/core/text.h"
#include "sim/harness/disk_views.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/harness/run_log.h"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// The run log's lines, CR LF removed, each without its time stamp.
std::vector<std::string> LogTexts(Machine& machine) {
  std::vector<std::string> texts;
  const std::optional<std::string> log =
      machine.ReadFile(machine.profile().windows_dir + L"\\Temp\\TempProc.log");
  if (!log) return texts;
  std::size_t start = 0;
  while (start < log->size()) {
    std::size_t end = log->find("\r\n", start);
    if (end == std::string::npos) end = log->size();
    const std::string line = log->substr(start, end - start);
    const std::size_t tab = line.find('\t');
    texts.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    start = end + 2;
  }
  return texts;
}

bool RanScript(const Machine& machine, const wchar_t* script) {
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind == "run" && e.parameters.find(script) != std::wstring::npos) return true;
  }
  return false;
}

}  // namespace

const char* ExitMeaning(int exitCode) {
  switch (exitCode) {
    case kExitReachedEnd:
      return "reached its end: provisioned (by this run or before), or the gate shut";
    case kExitStoppedEarly:
      return "stopped early: no disk, or no \"Recovery\" partition";
    case kExitRefused:
      return "refused before any disk changed";
    case kExitNeedsRework:
      return "a disk step failed after changes began, or an earlier run left the unit part-way: "
             "the unit needs rework";
    case kPowerCutExitCode:
      return "the power was cut";
    default:
      return "not one of the product's codes";
  }
}

std::string Decision(Machine& machine, int exitCode) {
  const std::vector<std::string> texts = LogTexts(machine);
  if (const std::optional<std::size_t> cut = PowerCutAfter(machine)) {
    return "power cut after child " + std::to_string(*cut);
  }
  const std::string last = texts.empty() ? std::string() : texts.back();
  if (exitCode == kExitReachedEnd || exitCode == kExitRefused || exitCode == kExitNeedsRework) {
    if (const std::string unit = UnitDecision(texts); !unit.empty()) return unit;
  }
  switch (exitCode) {
    case kExitStoppedEarly:
      return texts.empty() ? "stopped early: no disk listed"
                           : "stopped early: no \"Recovery\" partition";
    case kExitRefused: {
      const std::string proof = "[Debug]: Disk identity not proven, no disk changed: ";
      if (last.rfind(proof, 0) == 0) {
        const std::string why = last.substr(proof.size());
        return "refused: " + why.substr(0, why.find(": cache device"));
      }
      return last.find("COM initialization failed") != std::string::npos
                 ? "refused: COM initialization failed"
                 : "refused";
    }
    case kExitNeedsRework:
      return "needs rework: " + (last.rfind("[Debug]: ", 0) == 0 ? last.substr(9) : last);
    case kExitReachedEnd:
      break;
    default:
      return ExitMeaning(exitCode);
  }
  if (RanScript(machine, L"TScriptClean2ndHDD.txt")) {
    return RanScript(machine, L"TScriptCreate2ndHDD.txt")
               ? "provisioned"
               : "provisioned: the cache over the whole SSD, no IntelRST partition";
  }
  return GateShutDecision(texts);
}

std::string ResultJson(Machine& machine, int exitCode, const std::vector<std::string>& arguments) {
  const std::vector<std::string> texts = LogTexts(machine);
  Json result;
  result["exit_code"] = exitCode;
  result["meaning"] = ExitMeaning(exitCode);
  result["decision"] = Decision(machine, exitCode);
  result["arguments"] = arguments;
  const std::optional<std::size_t> cut = PowerCutAfter(machine);
  result["power_cut_after"] = cut ? Json(*cut) : Json();
  result["gate"] = GateInputs(texts);
  result["children"] = Json::array();
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind != "run") continue;
    Json child;
    child["program"] = ToUtf8(e.program);
    child["parameters"] = ToUtf8(e.parameters);
    child["exit_code"] = e.value;
    result["children"].push_back(child);
  }
  result["disks_before"] = Json::array();
  if (const std::vector<DiskView>* before = DisksBefore(machine)) {
    for (const DiskView& d : *before) result["disks_before"].push_back(DiskJson(d));
  }
  result["disks_after"] = Json::array();
  for (const DiskView& d : ViewDisks(machine)) result["disks_after"].push_back(DiskJson(d));
  return result.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace sim
