// cachesetup-sim --summary over many captured notebooks: captures N random machines (the capture
// tests' generator) into folders, then times one --summary over all of them.
//
//   summary_bench [N]     (default 500)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sim/harness/capture_run.h"
#include "sim/harness/notebook.h"
#include "sim/harness/summary.h"
#include "tests/support/random_machine.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / "cachesetup-summary-bench";
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base / "machine");

  const auto captureStart = std::chrono::steady_clock::now();
  std::vector<std::string> inputs;
  for (int i = 0; i < count; ++i) {
    const std::filesystem::path dir = base / "captures" / std::to_string(i);
    std::filesystem::remove_all(base / "machine");
    std::filesystem::create_directories(base / "machine");
    sim::Notebook machine(
        testing_support::RandomMachine(1000 + static_cast<std::uint64_t>(i)).profile,
        base / "machine");
    if (sim::RunCapture(machine, {}, dir) != 0) {
      std::fprintf(stderr, "summary_bench: the capture of machine %d failed\n", i);
      return 1;
    }
    inputs.push_back(dir.string());
  }
  const double captureSeconds = Seconds(std::chrono::steady_clock::now() - captureStart);

  std::ostringstream lines;
  const auto start = std::chrono::steady_clock::now();
  const int code = sim::RunSummary(CS_SIM_PATH, inputs, base / "summary", lines);
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  // Lines end "; DECISION; exit N": tally them by exit code and the decision's first words.
  std::size_t printed = 0;
  std::map<std::string, int> tally;
  std::istringstream in(lines.str());
  for (std::string line; std::getline(in, line); ++printed) {
    const std::size_t exit = line.rfind("; exit ");
    const std::size_t decision = exit == std::string::npos ? exit : line.rfind("; ", exit - 1);
    if (decision == std::string::npos) continue;
    std::string what = line.substr(decision + 2, exit - decision - 2);
    what = what.substr(0, what.find(':'));
    ++tally["exit " + line.substr(exit + 7) + ", " + what];
  }
  std::printf("captured %d random machines in %.2f s\n", count, captureSeconds);
  std::printf("--summary over %d captures: %.2f s wall (%.1f ms each), %zu lines, exit %d\n", count,
              seconds, 1000.0 * seconds / count, printed, code);
  for (const auto& [what, n] : tally) std::printf("  %4d  %s\n", n, what.c_str());
  std::filesystem::remove_all(base);
  return code;
}
