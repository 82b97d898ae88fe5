#include "sim/harness/summary_page.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

// Text for HTML: the five characters that mean markup escaped, and control characters (which a
// model or label may carry, and XML forbids) shown as U+FFFD.
std::string Html(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
          out += "&#xFFFD;";
        } else {
          out += c;
        }
    }
  }
  return out;
}

// A colour for each outcome, dark enough for white text and told apart in grey print too; the
// chart writes every count beside its bar, so nothing depends on the colour alone.
const char* Colour(const std::string& outcome) {
  if (outcome == "provisioned" || outcome == "already provisioned") return "#1b7837";
  if (outcome == "gate shut") return "#4d7ea8";
  if (outcome == "refused" || outcome == "identity cannot be proven") return "#b35806";
  if (outcome == "needs rework" || outcome == "cut short") return "#b2182b";
  return "#666666";
}

std::string Chart(const std::vector<std::pair<std::string, int>>& counts) {
  constexpr int kLabel = 230, kBars = 380, kRow = 26, kWidth = kLabel + kBars + 60;
  int most = 1;
  for (const auto& [outcome, n] : counts) most = std::max(most, n);
  const int height = static_cast<int>(counts.size()) * kRow + 8;
  std::string svg = "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kWidth) + "\" height=\"" + std::to_string(height) +
                    "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(height) +
                    "\" role=\"img\" aria-label=\"Notebooks by outcome\">\n";
  int y = 4;
  for (const auto& [outcome, n] : counts) {
    const int width = std::max(2, kBars * n / most);
    svg += "<g class=\"bar\"><title>" + Html(outcome) + ": " + std::to_string(n) + "</title>";
    svg += "<text x=\"" + std::to_string(kLabel - 8) + "\" y=\"" + std::to_string(y + 17) +
           "\" text-anchor=\"end\">" + Html(outcome) + "</text>";
    svg += "<rect x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
           std::to_string(width) + "\" height=\"" + std::to_string(kRow - 6) + "\" fill=\"" +
           Colour(outcome) + "\"/>";
    svg += "<text class=\"count\" x=\"" + std::to_string(kLabel + width + 6) + "\" y=\"" +
           std::to_string(y + 17) + "\">" + std::to_string(n) + "</text></g>\n";
    y += kRow;
  }
  return svg + "</svg>\n";
}

std::string Cell(const std::string& text, const char* instead = "") {
  return "<td>" + Html(text.empty() ? std::string(instead) : text) + "</td>";
}

std::string Row(const SummaryRow& r) {
  std::string why = "<td class=\"why\"><b>" + Html(r.decision) + "</b>";
  if (!r.reason.empty() && r.reason != r.decision) why += "<br>" + Html(r.reason);
  if (!r.warnings.empty()) why += "<br><i>warning: " + Html(r.warnings) + "</i>";
  why += "</td>";
  std::string gate = r.fixedDisks.empty() && r.raid0.empty()
                         ? std::string()
                         : (r.fixedDisks.empty() ? "-" : r.fixedDisks) + " fixed, RAID0 " +
                               (r.raid0.empty() ? "-" : r.raid0) + ", ISRT " +
                               (r.isrt.empty() ? "-" : r.isrt) + ", IFFS " +
                               (r.iffs.empty() ? "-" : r.iffs);
  std::string cache =
      r.cacheDevice.empty() && r.cacheSize.empty()
          ? std::string()
          : r.cacheSize + " on " + r.cacheDevice + (r.mode.empty() ? "" : ", " + r.mode);
  std::string intelrst =
      r.intelrstDisk.empty() ? std::string() : "disk " + r.intelrstDisk + ", " + r.intelrstSize;
  std::string windows =
      (r.windowsBits.empty() ? "" : r.windowsBits + "-bit") +
      (r.memoryMb.empty() ? "" : (r.windowsBits.empty() ? "" : ", ") + r.memoryMb + " MB");
  return "<tr class=\"" + std::string(r.failed ? "failed" : "") + "\">" + Cell(r.outcome) +
         "<td class=\"input\">" + Html(r.input) + "<br><span class=\"kind\">" +
         Html(r.kind.empty() ? std::string("not read") : r.kind) + "</span></td>" + why +
         Cell(r.exitCode, "-") + Cell(r.models) + Cell(windows) + Cell(gate) + Cell(cache) +
         Cell(intelrst) + Cell(r.arguments) + "</tr>\n";
}

constexpr const char* kStyle = R"(<style>
body { font: 14px/1.4 sans-serif; color: #111; background: #fff; margin: 1.5em; }
h1 { font-size: 1.4em; margin: 0 0 0.3em; }
p.counts { margin: 0.2em 0 0.8em; }
svg.chart text { font: 13px sans-serif; fill: #111; }
svg.chart text.count { font-weight: bold; }
table { border-collapse: collapse; width: 100%; font-size: 12px; }
th, td { border: 1px solid #999; padding: 3px 5px; text-align: left; vertical-align: top; }
th { background: #e8e8e8; }
td.input { word-break: break-all; max-width: 18em; }
td.why { max-width: 34em; }
span.kind { color: #555; }
tr.failed td { background: #f6e3e3; }
@media print {
  body { margin: 0; font-size: 11px; }
  table { font-size: 9px; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
@page { size: A4 landscape; margin: 12mm; }
</style>
)";

}  // namespace

std::string SummaryPage(const std::vector<SummaryRow>& rows) {
  const std::vector<std::pair<std::string, int>> counts = OutcomeCounts(rows);
  int failed = 0;
  for (const SummaryRow& r : rows) failed += r.failed ? 1 : 0;
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>cachesetup: " +
      std::to_string(rows.size()) + (rows.size() == 1 ? " notebook" : " notebooks") +
      " by outcome</title>\n" + kStyle + "</head>\n<body>\n<h1>" + std::to_string(rows.size()) +
      (rows.size() == 1 ? " notebook" : " notebooks") + " by outcome</h1>\n";
  page += "<p class=\"counts\">";
  for (std::size_t i = 0; i < counts.size(); ++i) {
    page += (i == 0 ? "" : "; ") + Html(counts[i].first) + ": " + std::to_string(counts[i].second);
  }
  page += failed == 0 ? std::string(".") : "; " + std::to_string(failed) + " could not be read.";
  page += "</p>\n" + Chart(counts);
  page +=
      "<table>\n<thead><tr><th>outcome</th><th>input</th><th>decision and reason</th>"
      "<th>exit</th><th>models</th><th>Windows, memory</th><th>gate</th><th>cache</th>"
      "<th>IntelRST partition</th><th>arguments</th></tr></thead>\n<tbody>\n";
  for (const SummaryRow& r : SortedByOutcome(rows)) page += Row(r);
  return page + "</tbody>\n</table>\n</body>\n</html>\n";
}

}  // namespace sim
