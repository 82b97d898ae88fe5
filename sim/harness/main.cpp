// cachesetup-sim: runs the product against a simulated notebook.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "sim/core/machine.h"
#include "sim/core/text.h"
#include "sim/harness/account.h"
#include "sim/harness/capture_run.h"
#include "sim/harness/notebook.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"

namespace {

constexpr const char* kUsage =
    "usage: cachesetup-sim [--machine PROFILE.json] [--out DIR] [--quiet] [-- PRODUCT-ARGS...]\n"
    "       cachesetup-sim [--machine PROFILE.json] --capture DIR [-- CAPTURE-ARGS...]\n";

int UsageError(const std::string& message) {
  std::cerr << "cachesetup-sim: " << message << "\n" << kUsage;
  return sim::kSimUsageExitCode;
}

// Runs the machine capture instead of the product on a machine laid out in a folder of its
// own, which goes again afterwards: only the captured profile stays, in `dir`.
int CaptureInto(sim::Profile profile, const std::string& dir,
                const std::vector<std::string>& captureArgs) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      ("cachesetup-sim-capture-" + std::to_string(std::hash<std::string>{}(dir)) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  int exitCode = sim::kSimUsageExitCode;
  try {
    sim::Notebook machine(std::move(profile), root);
    exitCode = sim::RunCapture(machine, captureArgs, dir);
    std::cout << sim::ToUtf8(machine.console());
    if (exitCode == 0)
      std::cout << "cachesetup-sim: the captured profile is " << dir << "/machine.json\n";
  } catch (const sim::ProfileError& e) {
    std::cerr << "cachesetup-sim: bad profile: " << e.what() << "\n";
  }
  std::filesystem::remove_all(root, ec);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  std::string machinePath;
  std::string outDir = "cachesetup-run";
  std::string captureDir;
  bool quiet = false;
  std::vector<std::string> productArgs;
  bool argsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      productArgs.assign(argv + i + 1, argv + argc);
      argsGiven = true;
      break;
    }
    if (arg == "--machine" || arg == "--out" || arg == "--capture") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      (arg == "--machine" ? machinePath : arg == "--out" ? outDir : captureDir) = argv[++i];
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      return UsageError("unknown option '" + arg + "'");
    }
  }
  if (outDir.empty()) return UsageError("--out needs a folder");

  sim::Profile profile;
  try {
    profile = machinePath.empty() ? sim::DefaultProfile() : sim::LoadProfile(machinePath);
  } catch (const sim::ProfileError& e) {
    std::cerr << "cachesetup-sim: bad profile: " << e.what() << "\n";
    return sim::kSimUsageExitCode;
  }

  if (!captureDir.empty()) return CaptureInto(std::move(profile), captureDir, productArgs);

  // Emptying the output folder would take the profile's own files away before the run.
  if (!machinePath.empty()) {
    std::error_code ec;
    const auto out = std::filesystem::weakly_canonical(outDir, ec);
    const auto profileDir = std::filesystem::weakly_canonical(machinePath, ec).parent_path();
    const auto [o, p] = std::mismatch(out.begin(), out.end(), profileDir.begin(), profileDir.end());
    if (o == out.end()) return UsageError("--out must not hold the --machine file");
  }
  const std::string prepared = sim::PrepareRunFolder(outDir);
  if (!prepared.empty()) {
    std::cerr << "cachesetup-sim: " << prepared << "\n";
    return sim::kSimUsageExitCode;
  }

  if (!argsGiven) productArgs = profile.arguments;
  profile.arguments = productArgs;  // after-machine.json repeats the run's own arguments
  int exitCode = 0;
  try {
    sim::Notebook machine(std::move(profile), outDir);
    exitCode = sim::RunProduct(machine, sim::JoinCommandLine(productArgs));
    if (!sim::WriteRunFiles(machine)) {
      std::cerr << "cachesetup-sim: cannot write the run files in " << outDir << "\n";
      return sim::kSimUsageExitCode;
    }
    if (!quiet) sim::PrintAccount(machine, exitCode, std::cout);
  } catch (const sim::ProfileError& e) {
    // Raised while laying the machine out, for example by a disk image that cannot be read.
    std::cerr << "cachesetup-sim: bad profile: " << e.what() << "\n";
    return sim::kSimUsageExitCode;
  }
  return exitCode;
}
