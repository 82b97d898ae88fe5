// The rows of --summary: one per notebook (a capture or profile replayed, or a unit's Temp
// folder from the line read as it is), its outcome, and how summary.csv and the terminal show it.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct SummaryRow {
  std::string kind;  // "capture", "profile" or "line"; empty when the input could not be read
  std::string input;
  std::string outcome;   // the decision's kind: "provisioned", "gate shut", "refused", ...
  std::string decision;  // the run in one line, as result.json's decision says it
  std::string reason;    // the run log's last line in full, for a refusal or a rework
  std::string exitCode;  // a replay's exit code; empty for a line folder
  std::string models, windowsBits, memoryMb, fixedDisks, raid0, isrt, iffs;
  std::string cacheDevice, cacheSize, mode, intelrstDisk, intelrstSize;
  std::string arguments, warnings;
  bool failed = false;  // the input could not be run or read
};

// The decision's kind, named as the page and summary.csv count it: "provisioned", "gate shut",
// "no \"Recovery\"", "no disk listed", "identity cannot be proven", "refused", "needs rework",
// "cut short", "no log", "could not run"; a decision of another form, its words before the first
// ':' or ','.
std::string OutcomeOf(const std::string& decision);

// The order outcomes are listed in: done first, then what the line can fix, then what it cannot
// read; outcomes of another name after the known ones, by name.
bool OutcomeBefore(const std::string& a, const std::string& b);

// The rows in outcome order, the inputs' order kept within one outcome.
std::vector<SummaryRow> SortedByOutcome(std::vector<SummaryRow> rows);

// Each outcome with its count, in outcome order.
std::vector<std::pair<std::string, int>> OutcomeCounts(const std::vector<SummaryRow>& rows);

// summary.csv: a header line and one line per row, fields quoted where they hold a comma, a quote
// or a line break.
std::string SummaryCsv(const std::vector<SummaryRow>& rows);

// The row's line on the terminal (its control characters shown, not sent), with a second line
// for the capture's warnings.
std::string SummaryLine(const SummaryRow& row);

}  // namespace sim
