// The whole run of the default notebook in the simulator, N times, each in a fresh run folder:
// wall time per run, peak memory, the virtual pauses the run asked for, and the share of the
// run's own work in the pauses a real notebook spends waiting.
//
//   run_bench [N]     (default 20)
//
// "layout" is the simulator laying the notebook out (folders, and the disk images, which it
// otherwise makes on first access) and is not part of the run; "run" is the product from its
// entry point to its exit code, simulated children and all, so it is an upper bound of the
// product's own work.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/core/machine.h"
#include "sim/disks/disk_image.h"
#include "sim/harness/notebook.h"
#include "sim/harness/run.h"
#include "sim/profile/profile.h"

namespace {

constexpr double kRealPausesMs = 11000.0;  // 2000 + 2000 + 5000 + 2000 on a real notebook

long PeakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // kilobytes on Linux
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / "cachesetup-run-bench";
  std::filesystem::remove_all(base);

#ifdef CS_BUILD_TYPE
  std::printf("build type: %s\n", CS_BUILD_TYPE);
#endif
  std::printf("%4s %10s %10s %6s %10s %8s %12s\n", "run", "layout ms", "run ms", "exit",
              "pauses ms", "sleeps", "peak KB");
  std::vector<double> times;
  std::uint64_t pausesMs = 0;
  bool samePauses = true;
  for (int i = 0; i < runs; ++i) {
    const std::filesystem::path dir = base / ("run-" + std::to_string(i));
    const std::string prepared = sim::PrepareRunFolder(dir);
    if (!prepared.empty()) {
      std::fprintf(stderr, "run_bench: %s\n", prepared.c_str());
      return 2;
    }
    sim::Profile profile = sim::DefaultProfile();
    const std::wstring commandLine = sim::JoinCommandLine(profile.arguments);
    const auto layoutStart = std::chrono::steady_clock::now();
    sim::Notebook machine(std::move(profile), dir);
    for (std::size_t d = 0; d < machine.profile().disks.size(); ++d) {
      if (machine.profile().disks[d].drive) sim::DiskBytes(machine, static_cast<int>(d));
    }
    const auto start = std::chrono::steady_clock::now();
    const int exitCode = sim::RunProduct(machine, commandLine);
    const auto end = std::chrono::steady_clock::now();

    std::uint64_t slept = 0;
    int sleeps = 0;
    for (const sim::TranscriptEntry& e : machine.transcript()) {
      if (e.kind == "sleep") {
        slept += e.value;
        ++sleeps;
      }
    }
    if (i == 0) pausesMs = slept;
    samePauses = samePauses && slept == pausesMs;
    times.push_back(Milliseconds(end - start));
    std::printf("%4d %10.3f %10.3f %6d %10llu %8d %12ld\n", i, Milliseconds(start - layoutStart),
                times.back(), exitCode, static_cast<unsigned long long>(slept), sleeps,
                PeakResidentKb());
  }
  std::filesystem::remove_all(base);

  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double t : times) sum += t;
  const double median = sorted[sorted.size() / 2];
  const double worst = sorted.back();
  std::printf("\nruns: %d, run ms: min %.3f median %.3f mean %.3f max %.3f\n", runs, sorted.front(),
              median, sum / runs, worst);
  std::printf("peak resident memory: %ld KB\n", PeakResidentKb());
  std::printf("virtual pauses per run: %llu ms%s (a real run waits %.0f ms)\n",
              static_cast<unsigned long long>(pausesMs), samePauses ? "" : " (runs differ!)",
              kRealPausesMs);
  std::printf("run's own time / real pauses: median %.4f%%, worst %.4f%%\n",
              100.0 * median / kRealPausesMs, 100.0 * worst / kRealPausesMs);
  const bool under = worst < 0.01 * kRealPausesMs;
  std::printf("own work under 1%% of the pauses (every run): %s\n", under ? "yes" : "NO");
  return under && samePauses && pausesMs == 11000 ? 0 : 1;
}
