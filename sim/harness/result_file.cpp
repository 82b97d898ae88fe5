#include "sim/harness/result_file.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/entry.h"
#include "sim/core/text.h"
#include "sim/harness/disk_views.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"

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

bool Has(const std::vector<std::string>& texts, const std::string& text) {
  for (const std::string& t : texts) {
    if (t == text) return true;
  }
  return false;
}

int Count(const std::vector<std::string>& texts, const std::string& prefix) {
  int n = 0;
  for (const std::string& t : texts) n += t.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

// What follows `prefix` in the first line that starts with it; empty when none does.
std::string After(const std::vector<std::string>& texts, const std::string& prefix) {
  for (const std::string& t : texts) {
    if (t.rfind(prefix, 0) == 0) return t.substr(prefix.size());
  }
  return std::string();
}

bool RanScript(const Machine& machine, const wchar_t* script) {
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind == "run" && e.parameters.find(script) != std::wstring::npos) return true;
  }
  return false;
}

// The gate's inputs as the product logged them; null for what it did not get to log.
Json Gate(const std::vector<std::string>& texts) {
  Json gate;
  auto flag = [&texts](const char* name) {
    const std::string prefix = std::string(name) + " = ";
    if (Has(texts, prefix + "TRUE.")) return Json(true);
    if (Has(texts, prefix + "FALSE.")) return Json(false);
    return Json();
  };
  gate["IFFS"] = flag("bIsSupportIFFS");
  gate["RAID0"] = flag("bIsSupportRAID0");
  gate["ISRT"] = flag("bIsSupportISRT");
  const int roles = Count(texts, "Get MasterHDD info") + Count(texts, "Get SecondHDD info");
  const bool located = roles > 0 || Has(texts, "End process...") || gate["ISRT"].is_boolean();
  gate["fixed_disks"] = located && Count(texts, "[Debug]: Not exist") == 0 ? Json(roles) : Json();
  const std::string master = After(texts, "Get MasterHDD info, DiskIndex = ");
  gate["recovery_disk"] = master.empty() ? Json() : Json(std::stoi(master));
  return gate;
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
      const std::string inUse =
          "[Debug]: SecondHDD not cleaned, Windows shows it in use, no disk "
          "changed: ";
      if (last.rfind(inUse, 0) == 0) {
        return "refused: Windows shows SecondHDD in use: " + last.substr(inUse.size());
      }
      return last.find("COM initialization failed") != std::string::npos
                 ? "refused: COM initialization failed"
                 : "refused";
    }
    case kExitNeedsRework: {
      const std::string holds = "[Debug]: The unit already holds ";
      if (last.rfind(holds, 0) == 0) {
        const std::string what = last.substr(holds.size());
        return "needs rework: an earlier run left the unit part-way, nothing changed: it holds " +
               what.substr(0, what.find(", no disk changed"));
      }
      return "needs rework: " + (last.rfind("[Debug]: ", 0) == 0 ? last.substr(9) : last);
    }
    case kExitReachedEnd:
      break;
    default:
      return ExitMeaning(exitCode);
  }
  const std::string before = "[Debug]: The unit is already provisioned, no disk changed: ";
  for (const std::string& text : texts) {
    if (text.rfind(before, 0) == 0) return "already provisioned: " + text.substr(before.size());
  }
  if (RanScript(machine, L"TScriptClean2ndHDD.txt")) {
    return RanScript(machine, L"TScriptCreate2ndHDD.txt")
               ? "provisioned"
               : "provisioned: the cache over the whole SSD, no IntelRST partition";
  }
  const Json gate = Gate(texts);
  const int fixed = gate["fixed_disks"].is_number() ? gate["fixed_disks"].get<int>() : 0;
  if (fixed != 2) return "gate shut: " + std::to_string(fixed) + " fixed disks";
  if (gate["RAID0"] == Json(true)) return "gate shut: RAID0 on";
  if (gate["ISRT"] != Json(true)) return "gate shut: ISRT off";
  return "gate shut: \"Recovery\" not on a fixed disk";
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
  result["gate"] = Gate(texts);
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
