// cachesetup-sim: runs the product against a simulated notebook.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "sim/core/machine.h"
#include "sim/harness/account.h"
#include "sim/harness/notebook.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"

namespace {

constexpr const char* kUsage =
    "usage: cachesetup-sim [--machine PROFILE.json] [--out DIR] [--quiet] [-- PRODUCT-ARGS...]\n";

int UsageError(const std::string& message) {
  std::cerr << "cachesetup-sim: " << message << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string machinePath;
  std::string outDir = "cachesetup-run";
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
    if (arg == "--machine" || arg == "--out") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      (arg == "--machine" ? machinePath : outDir) = argv[++i];
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
    return 2;
  }

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
    return 2;
  }

  if (!argsGiven) productArgs = profile.arguments;
  profile.arguments = productArgs;  // after-machine.json repeats the run's own arguments
  int exitCode = 0;
  try {
    sim::Notebook machine(std::move(profile), outDir);
    exitCode = sim::RunProduct(machine, sim::JoinCommandLine(productArgs));
    if (!sim::WriteRunFiles(machine)) {
      std::cerr << "cachesetup-sim: cannot write the run files in " << outDir << "\n";
      return 2;
    }
    if (!quiet) sim::PrintAccount(machine, exitCode, std::cout);
  } catch (const sim::ProfileError& e) {
    // Raised while laying the machine out, for example by a disk image that cannot be read.
    std::cerr << "cachesetup-sim: bad profile: " << e.what() << "\n";
    return 2;
  }
  return exitCode;
}
