#include "sim/harness/run_log.h"

#include <cstdlib>

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kDebug = "[Debug]: ";
constexpr const char* kEnd = "End process...";

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

}  // namespace

Json GateInputs(const std::vector<std::string>& texts) {
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
  const bool located = roles > 0 || Has(texts, kEnd) || gate["ISRT"].is_boolean();
  gate["fixed_disks"] = located && Count(texts, "[Debug]: Not exist") == 0 ? Json(roles) : Json();
  // A log from the line may hold anything after the prefix: only a plain number counts.
  const std::string master = After(texts, "Get MasterHDD info, DiskIndex = ");
  char* end = nullptr;
  const long index = std::strtol(master.c_str(), &end, 10);
  const bool number = !master.empty() && *end == '\0' && index >= -1000000 && index <= 1000000;
  gate["recovery_disk"] = number ? Json(index) : Json();
  return gate;
}

std::string GateShutDecision(const std::vector<std::string>& texts) {
  const Json gate = GateInputs(texts);
  const int fixed = gate["fixed_disks"].is_number() ? gate["fixed_disks"].get<int>() : 0;
  if (fixed != 2) {
    return "gate shut: " + std::to_string(fixed) + (fixed == 1 ? " fixed disk" : " fixed disks");
  }
  if (gate["RAID0"] == Json(true)) return "gate shut: RAID0 on";
  if (gate["ISRT"] != Json(true)) return "gate shut: ISRT off";
  return "gate shut: \"Recovery\" not on a fixed disk";
}

std::string LastDebugText(const std::vector<std::string>& texts) {
  if (texts.empty() || texts.back().rfind(kDebug, 0) != 0) return std::string();
  return texts.back().substr(std::string(kDebug).size());
}

std::string UnitDecision(const std::vector<std::string>& texts) {
  const std::string before = "[Debug]: The unit is already provisioned, no disk changed: ";
  for (const std::string& text : texts) {
    if (text.rfind(before, 0) == 0) return "already provisioned: " + text.substr(before.size());
  }
  const std::string last = texts.empty() ? std::string() : texts.back();
  const std::string holds = "[Debug]: The unit already holds ";
  if (last.rfind(holds, 0) == 0) {
    const std::string what = last.substr(holds.size());
    return "needs rework: an earlier run left the unit part-way, nothing changed: it holds " +
           what.substr(0, what.rfind(", no disk changed")) +
           " (rework: the storage tool's -M --delete-all-metadata, then run again; README, "
           "\"Line restarts\")";
  }
  const std::string inUse =
      "[Debug]: SecondHDD not cleaned, Windows shows it in use, no disk changed: ";
  if (last.rfind(inUse, 0) == 0) {
    return "refused: Windows shows SecondHDD in use: " + last.substr(inUse.size());
  }
  return std::string();
}

std::string DecisionFromLog(const std::vector<std::string>& texts) {
  if (const std::string unit = UnitDecision(texts); !unit.empty()) return unit;
  if (texts.empty()) {
    return "no log: TempProc.log is empty (the disk inventory failed or found no disk; the run "
           "stopped early, exit 1)";
  }
  const std::string& last = texts.back();
  if (last == kEnd) {
    if (!Has(texts, "Run Intel RSTCli Tool... Create cache volume...")) {
      return GateShutDecision(texts);
    }
    return Has(texts, "Create IntelRST partition...")
               ? "provisioned"
               : "provisioned: the cache over the whole SSD, no IntelRST partition";
  }
  const std::string debug = LastDebugText(texts);
  if (last.rfind(kDebug, 0) != 0) return "cut short after \"" + last + "\"";
  const std::string proof = "Disk identity not proven, no disk changed: ";
  if (debug.rfind(proof, 0) == 0) {
    const std::string why = debug.substr(proof.size());
    return "refused: " + why.substr(0, why.find(": cache device"));
  }
  if (debug.rfind("Not exist 'Recovery' partition", 0) == 0) {
    return "stopped early: no \"Recovery\" partition" + debug.substr(30);
  }
  if (debug.find("COM initialization failed") != std::string::npos) {
    return "refused: COM initialization failed";
  }
  if (debug.find("needs rework") != std::string::npos) return "needs rework: " + debug;
  if (debug.find("no disk changed") != std::string::npos) return "refused: " + debug;
  // A line of another form: its own words, the first of them lower-cased to name the outcome.
  std::string said = debug;
  if (!said.empty() && said[0] >= 'A' && said[0] <= 'Z') said[0] = static_cast<char>(said[0] + 32);
  return said;
}

}  // namespace sim
