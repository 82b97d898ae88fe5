#include "sim/harness/summary_table.h"

#include <algorithm>

#include "sim/harness/account_text.h"

namespace sim {

namespace {

const char* const kOutcomeOrder[] = {"provisioned",    "already provisioned",
                                     "gate shut",      "no \"Recovery\"",
                                     "no disk listed", "identity cannot be proven",
                                     "refused",        "needs rework",
                                     "cut short",      "no log"};
constexpr const char* kCouldNotRun = "could not run";

std::size_t Rank(const std::string& outcome) {
  const std::size_t known = std::size(kOutcomeOrder);
  for (std::size_t i = 0; i < known; ++i) {
    if (outcome == kOutcomeOrder[i]) return i;
  }
  return outcome == kCouldNotRun ? known + 1 : known;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string Or(const std::string& value, const char* instead) {
  return value.empty() ? std::string(instead) : value;
}

}  // namespace

std::string OutcomeOf(const std::string& decision) {
  if (decision == "stopped early: no disk listed") return "no disk listed";
  if (decision.rfind("stopped early: no \"Recovery\"", 0) == 0) return "no \"Recovery\"";
  if (decision.rfind("power cut", 0) == 0 || decision.rfind("cut short", 0) == 0) {
    return "cut short";
  }
  if (decision.rfind("did not run", 0) == 0 || decision.rfind("bad profile", 0) == 0 ||
      decision.rfind("could not", 0) == 0) {
    return kCouldNotRun;
  }
  return decision.substr(0, decision.find_first_of(":,"));
}

bool OutcomeBefore(const std::string& a, const std::string& b) {
  const std::size_t ra = Rank(a), rb = Rank(b);
  return ra != rb ? ra < rb : (ra == std::size(kOutcomeOrder) && a < b);
}

std::vector<SummaryRow> SortedByOutcome(std::vector<SummaryRow> rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const SummaryRow& a, const SummaryRow& b) {
    return OutcomeBefore(a.outcome, b.outcome);
  });
  return rows;
}

std::vector<std::pair<std::string, int>> OutcomeCounts(const std::vector<SummaryRow>& rows) {
  std::vector<std::pair<std::string, int>> counts;
  for (const SummaryRow& row : SortedByOutcome(rows)) {
    if (counts.empty() || counts.back().first != row.outcome) counts.emplace_back(row.outcome, 0);
    ++counts.back().second;
  }
  return counts;
}

std::string SummaryCsv(const std::vector<SummaryRow>& rows) {
  std::string csv =
      "kind,input,outcome,decision,exit_code,models,windows_bits,memory_mb,fixed_disks,RAID0,ISRT,"
      "IFFS,cache_device,cache_size,mode,intelrst_disk,intelrst_size,arguments,warnings,reason\n";
  for (const SummaryRow& r : rows) {
    for (const std::string* field :
         {&r.kind, &r.input, &r.outcome, &r.decision, &r.exitCode, &r.models, &r.windowsBits,
          &r.memoryMb, &r.fixedDisks, &r.raid0, &r.isrt, &r.iffs, &r.cacheDevice, &r.cacheSize,
          &r.mode, &r.intelrstDisk, &r.intelrstSize, &r.arguments, &r.warnings}) {
      csv += Csv(*field) + ",";
    }
    csv += Csv(r.reason) + "\n";
  }
  return csv;
}

std::string SummaryLine(const SummaryRow& r) {
  std::string line = r.input + (r.kind.empty() ? "" : " [" + r.kind + "]") + ": ";
  if (r.failed) return Printable(line + r.decision) + "\n";
  line += Or(r.models, "(no models)") + "; gate: " + Or(r.fixedDisks, "-") +
          (r.fixedDisks == "1" ? " fixed disk" : " fixed disks") + ", RAID0 " + Or(r.raid0, "-") +
          ", ISRT " + Or(r.isrt, "-") + " (IFFS " + Or(r.iffs, "-") + "); " + r.decision;
  if (!r.cacheDevice.empty()) {
    line +=
        "; cache " + r.cacheSize + " on " + r.cacheDevice + (r.mode.empty() ? "" : ", " + r.mode);
  }
  line += r.exitCode.empty() ? "; read from the line" : "; exit " + r.exitCode;
  line = Printable(line) + "\n";
  if (!r.warnings.empty()) line += Printable("  warning: " + r.warnings) + "\n";
  return line;
}

}  // namespace sim
