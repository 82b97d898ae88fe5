#include "sim/harness/line_folder.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/host_file.h"
#include "sim/harness/line_files.h"
#include "sim/harness/run_log.h"

namespace sim {

namespace {

// One block of the storage tool's report: the "Key: value" lines between blank lines, with the
// section ("--VOLUME INFORMATION--", ...) it stands in.
struct Block {
  std::string section;
  std::map<std::string, std::string> fields;
};

std::vector<Block> Blocks(const std::vector<std::string>& lines) {
  std::vector<Block> blocks;
  std::string section;
  bool open = false;
  for (const std::string& line : lines) {
    if (line.size() > 4 && line.rfind("--", 0) == 0 &&
        line.compare(line.size() - 2, 2, "--") == 0) {
      section = line;
      open = false;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (TrimBlanks(line).empty() || colon == std::string::npos) {
      open = false;
      continue;
    }
    if (!open) blocks.push_back({section, {}});
    open = true;
    blocks.back().fields.emplace(TrimBlanks(line.substr(0, colon)),
                                 TrimBlanks(line.substr(colon + 1)));
  }
  return blocks;
}

std::string Field(const Block& block, const char* key) {
  const auto it = block.fields.find(key);
  return it == block.fields.end() ? std::string() : it->second;
}

// IntelRSTCli.log: the version block and a report, then, after the acceleration, a marker line
// and the tool's report again. Returns the first report's blocks and the last one's.
std::pair<std::vector<Block>, std::vector<Block>> Reports(const std::string& bytes) {
  std::vector<std::string> first, last;
  bool after = false;
  for (const std::string& line : FileLines(bytes, false)) {
    if (line.find("AFTER RSTCLI ACCELERATE COMMAND") != std::string::npos) {
      after = true;
      continue;
    }
    (after ? last : first).push_back(line);
  }
  std::vector<Block> before = Blocks(first);
  return {before, after ? Blocks(last) : before};
}

void ReadReports(const std::string& bytes, SummaryRow& row) {
  const auto [first, last] = Reports(bytes);
  for (const Block& b : first) {
    if (b.section.find("END DEVICE") == std::string::npos || Field(b, "Model").empty()) continue;
    row.models += (row.models.empty() ? "" : " + ") + Field(b, "Model");
  }
  bool data = false;
  for (const Block& b : last) {
    if (b.section.find("VOLUME") != std::string::npos && Field(b, "Type") == "Cache") {
      row.cacheSize = Field(b, "Size");
      row.mode = Field(b, "Accel Mode");
    }
    if (b.section.find("VOLUME") != std::string::npos && Field(b, "Type") == "Data") {
      row.intelrstSize = Field(b, "Size");
      data = true;
    }
    if (b.section.find("END DEVICE") != std::string::npos && Field(b, "Usage") == "Array member") {
      row.cacheDevice = Field(b, "ID");
    }
  }
  if (!row.cacheSize.empty() && !data) row.cacheSize += " (the whole device)";
}

// The disk the create script selects: "sel disk N".
std::string ScriptDisk(const std::string& bytes) {
  for (const std::string& line : FileLines(bytes, false)) {
    const std::string text = TrimBlanks(line);
    if (text.rfind("sel disk ", 0) == 0) return TrimBlanks(text.substr(9));
  }
  return std::string();
}

std::string Flag(const nlohmann::ordered_json& value) {
  return value.is_boolean() ? (value.get<bool>() ? "on" : "off") : std::string();
}

}  // namespace

SummaryRow ReadLineFolder(const std::filesystem::path& input) {
  SummaryRow row;
  row.kind = "line";
  row.input = input.string();
  std::map<std::string, std::string> files;
  for (const char* name : kLineFiles) {
    const std::optional<std::filesystem::path> file = FindNamed(input, name);
    if (!file) continue;
    const std::optional<std::string> bytes = ReadHostFile(*file);
    if (!bytes) {
      row.failed = true;
      row.outcome = "could not run";
      row.decision = "could not read " + file->string();
      return row;
    }
    files[name] = *bytes;
  }
  if (files.count("TempProc.log") == 0) {
    row.decision = "no log: the folder holds no TempProc.log";
  } else {
    const std::vector<std::string> texts = FileLines(files["TempProc.log"], true);
    row.decision = DecisionFromLog(texts);
    const nlohmann::ordered_json gate = GateInputs(texts);
    row.fixedDisks = gate["fixed_disks"].is_number() ? gate["fixed_disks"].dump() : "";
    row.raid0 = Flag(gate["RAID0"]);
    row.isrt = Flag(gate["ISRT"]);
    row.iffs = Flag(gate["IFFS"]);
    for (const std::string& t : texts) {
      if (t.rfind("Size = ", 0) == 0 && t.size() > 10 && t.compare(t.size() - 3, 3, " MB") == 0) {
        row.memoryMb = t.substr(7, t.size() - 10);
      }
    }
    const std::string debug = LastDebugText(texts);
    const bool fullReason =
        row.decision.rfind("refused", 0) == 0 || row.decision.rfind("needs rework", 0) == 0;
    if (fullReason) row.reason = debug;
    bool created = false;
    for (const std::string& t : texts) created |= t == "Create IntelRST partition...";
    if (created && files.count("TScriptCreate2ndHDD.txt") != 0) {
      row.intelrstDisk = ScriptDisk(files["TScriptCreate2ndHDD.txt"]);
    }
  }
  row.outcome = OutcomeOf(row.decision);
  if (files.count("IntelRSTCli.log") != 0) ReadReports(files["IntelRSTCli.log"], row);
  if (row.intelrstDisk.empty()) row.intelrstSize.clear();
  return row;
}

}  // namespace sim
