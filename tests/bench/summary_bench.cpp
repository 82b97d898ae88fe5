// cachesetup-sim --summary over many notebooks: captures N random machines (the capture tests'
// generator) into folders, runs the product on N more and keeps each one's Temp folder as a unit
// on the line leaves it, then times one --summary over all of them and tallies the outcomes.
//
//   summary_bench [N]     (default 500: 500 captures and 500 line folders)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/host_file.h"
#include "sim/harness/capture_run.h"
#include "sim/harness/notebook.h"
#include "sim/harness/run.h"
#include "sim/harness/summary.h"
#include "tests/support/random_machine.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The fields of one summary.csv line (quoted fields kept whole).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  const fs::path base = fs::temp_directory_path() / "cachesetup-summary-bench";
  fs::remove_all(base);

  const auto prepareStart = std::chrono::steady_clock::now();
  std::vector<std::string> inputs;
  for (int i = 0; i < 2 * count; ++i) {
    const bool line = i >= count;
    fs::remove_all(base / "machine");
    fs::create_directories(base / "machine");
    const testing_support::Machine random =
        testing_support::RandomMachine(1000 + static_cast<std::uint64_t>(i));
    sim::Notebook machine(random.profile, base / "machine");
    const fs::path dir = base / (line ? "lines" : "captures") / std::to_string(i);
    if (!line) {
      if (sim::RunCapture(machine, {}, dir) != 0) {
        std::fprintf(stderr, "summary_bench: the capture of machine %d failed\n", i);
        return 1;
      }
    } else {
      // The unit's Temp folder, as the line hands it back; a machine without one leaves none.
      sim::RunProduct(machine, random.commandLine);
      const auto temp = machine.HostPath(machine.profile().windows_dir + L"\\Temp");
      fs::create_directories(dir);
      std::error_code ec;
      if (temp) fs::copy(*temp, dir, fs::copy_options::recursive, ec);
    }
    inputs.push_back(dir.string());
  }
  const double prepareSeconds = Seconds(std::chrono::steady_clock::now() - prepareStart);

  std::ostringstream lines;
  const auto start = std::chrono::steady_clock::now();
  const int code = sim::RunSummary(CS_SIM_PATH, inputs, std::nullopt, base / "summary", lines);
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);

  std::map<std::string, int> tally;
  std::istringstream csv(sim::ReadHostFile(base / "summary" / "summary.csv").value_or(""));
  std::string line;
  std::getline(csv, line);  // the header
  while (std::getline(csv, line)) {
    const std::vector<std::string> f = CsvFields(line);
    if (f.size() > 4) ++tally[f[0] + ", " + f[2] + (f[4].empty() ? "" : ", exit " + f[4])];
  }
  std::error_code ec;
  const auto page = fs::file_size(base / "summary" / "summary.html", ec);
  std::printf("prepared %d captures and %d line folders of random machines in %.2f s\n", count,
              count, prepareSeconds);
  std::printf("--summary over %d inputs: %.2f s wall (%.1f ms each), exit %d\n", 2 * count, seconds,
              1000.0 * seconds / (2 * count), code);
  std::printf("summary.html: %llu bytes\n", static_cast<unsigned long long>(ec ? 0 : page));
  for (const auto& [what, n] : tally) std::printf("  %4d  %s\n", n, what.c_str());
  fs::remove_all(base);
  return code;
}
