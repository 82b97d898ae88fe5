// summary.html: the summary as one page to read or print: the outcomes' counts as a bar chart,
// then every row, sorted by outcome, with each refusal's or rework's reason in full.
#pragma once

#include <string>
#include <vector>

#include "sim/harness/summary_table.h"

namespace sim {

// The whole page: HTML with its style and an inline SVG chart, no script, nothing it fetches.
std::string SummaryPage(const std::vector<SummaryRow>& rows);

}  // namespace sim
