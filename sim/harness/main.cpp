// cachesetup-sim: runs the product against a simulated notebook.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/machine.h"
#include "sim/core/run_folder.h"
#include "sim/core/text.h"
#include "sim/harness/account.h"
#include "sim/harness/capture_run.h"
#include "sim/harness/compare.h"
#include "sim/harness/notebook.h"
#include "sim/harness/result_file.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/harness/summary.h"
#include "sim/profile/profile.h"

namespace {

constexpr const char* kUsage =
    "usage: cachesetup-sim [--machine PROFILE] [--out DIR] [--quiet] [-- PRODUCT-ARGS...]\n"
    "       cachesetup-sim [--machine PROFILE] --capture DIR [--quiet] [-- CAPTURE-ARGS...]\n"
    "       cachesetup-sim [--machine PROFILE] [--out DIR] [--quiet] --compare LINE_TEMP_DIR\n"
    "                      [-- PRODUCT-ARGS...]\n"
    "       cachesetup-sim [--out DIR] --summary INPUT... [-- PRODUCT-ARGS...]\n"
    "       cachesetup-sim --help | --version\n";

constexpr const char* kHelp =
    "Runs cachesetup on a simulated notebook and shows what it did.\n"
    "\n"
    "  --machine PROFILE       the notebook to simulate: a profile file, or a capture folder\n"
    "                          holding machine.json (default: the built-in default notebook,\n"
    "                          the same as examples/default-notebook.json)\n"
    "  --out DIR               the run folder (default: ./cachesetup-run); it receives the\n"
    "                          simulated drive C:, result.json, account.txt, transcript.tsv,\n"
    "                          after.json, after-machine.json and the disk images. An existing\n"
    "                          DIR is emptied only if an earlier run of this program made it;\n"
    "                          a DIR inside an earlier run's folder is refused.\n"
    "                          Disk images are sparse: pack a run folder with tar --sparse.\n"
    "  --quiet                 no account on standard output (it is still in DIR/account.txt)\n"
    "  --capture DIR           capture the simulated notebook as cachesetup-capture.exe would,\n"
    "                          into the new or empty folder DIR, instead of running the product\n"
    "  --compare LINE_TEMP_DIR run (the replay), say its exit code and decision, then compare\n"
    "                          the Temp files a unit left on the line (TempProc.log, both\n"
    "                          scripts, IntelRSTCli.log, TRSTCliLog.txt, copied from its\n"
    "                          %WINDIR%\\Temp) with the replay's, time stamps aside\n"
    "  --summary INPUT...      replay each capture folder or profile file, several at a time,\n"
    "                          and read each folder of a unit's Temp files from the line (no\n"
    "                          machine.json); print one line each (models, gate inputs,\n"
    "                          decision, exit code) and write DIR/summary.csv and\n"
    "                          DIR/summary.html (counts by outcome, then every row)\n"
    "  --                      the rest is the product's command line (default: the profile's\n"
    "                          \"arguments\", for example -- ENHANCED), also for every replay of\n"
    "                          --summary; with --capture, the capture's (--no-storage-tool)\n"
    "  --help, --version\n"
    "\n"
    "Exit codes:\n"
    "  a run       0, 1, 2, 3: the product's own (0 reached its end, 1 stopped early, 2 refused\n"
    "              before any disk changed, 3 a disk step failed: the unit needs rework);\n"
    "              65 the power was cut by a \"PowerCut:N\" fault\n"
    "  --capture   0 the profile was written, 1 it could not be, 2 wrong capture arguments\n"
    "  --compare   0 every file agrees, 1 one differs (the replay's own exit code and decision\n"
    "              are printed first)\n"
    "  --summary   0 every input was replayed or read, 1 one could not be (its line says why)\n"
    "  any         64 a usage error (a --compare folder holding none of the line's files\n"
    "              included) or a bad profile (one message naming the file and the key)\n"
    "\n"
    "Docs: README.md (the simulator, exit codes, bad input), docs/machine-profile.md (the\n"
    "profile format, what makes a notebook provision, faults), docs/run-files.md (result.json,\n"
    "transcript.tsv, after.json).\n";

int UsageError(const std::string& message) {
  std::cerr << "cachesetup-sim: " << message << "\n" << kUsage;
  return sim::kSimUsageExitCode;
}

// Runs the machine capture instead of the product on a machine laid out in a folder of its
// own, which goes again afterwards: only the captured profile stays, in `dir`.
int CaptureInto(sim::Profile profile, const std::string& dir,
                const std::vector<std::string>& captureArgs, bool quiet) {
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) &&
      (!std::filesystem::is_directory(dir, ec) || !std::filesystem::is_empty(dir, ec))) {
    return UsageError("--capture needs a new or empty folder: " + dir + " holds files");
  }
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      ("cachesetup-sim-capture-" + std::to_string(std::hash<std::string>{}(dir)) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(root, ec);
  int exitCode = sim::kSimUsageExitCode;
  try {
    sim::Notebook machine(std::move(profile), root);
    exitCode = sim::RunCapture(machine, captureArgs, dir);
    // The capture names the folder as the simulated Windows sees it; the host's path is the one
    // to open.
    std::string console = sim::ToUtf8(machine.console());
    const std::size_t wrote = console.find("cachesetup-capture: wrote ");
    if (wrote != std::string::npos) console.erase(wrote, console.find('\n', wrote) + 1 - wrote);
    if (!quiet) std::cout << console;
    if (exitCode == 0) {
      std::cout << "cachesetup-sim: the captured profile is "
                << (std::filesystem::absolute(dir, ec) / "machine.json").string() << "\n";
    }
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
  bool outGiven = false;
  std::vector<std::string> productArgs;
  bool argsGiven = false;
  std::string compareDir;
  std::vector<std::string> summaryInputs;
  bool summary = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      productArgs.assign(argv + i + 1, argv + argc);
      argsGiven = true;
      break;
    }
    if (arg == "--machine" || arg == "--out" || arg == "--capture" || arg == "--compare") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      (arg == "--machine"   ? machinePath
       : arg == "--out"     ? outDir
       : arg == "--capture" ? captureDir
                            : compareDir) = argv[++i];
      outGiven |= arg == "--out";
    } else if (arg == "--summary") {
      summary = true;
      while (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
        summaryInputs.push_back(argv[++i]);
      }
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << "\n" << kHelp;
      return 0;
    } else if (arg == "--version") {
      std::cout << "cachesetup-sim " << CS_VERSION << "\n";
      return 0;
    } else {
      return UsageError("unknown option '" + arg + "'");
    }
  }
  if (outDir.empty()) return UsageError("--out needs a folder");
  if (!captureDir.empty() && outGiven) {
    return UsageError("--capture writes only into its own folder; leave --out away");
  }
  if (summary) {
    if (summaryInputs.empty()) return UsageError("--summary needs capture folders or profiles");
    for (const auto& [given, option] :
         {std::pair{!machinePath.empty(), "--machine"}, std::pair{!captureDir.empty(), "--capture"},
          std::pair{!compareDir.empty(), "--compare"}, std::pair{quiet, "--quiet"}}) {
      if (given) {
        return UsageError(std::string("--summary takes only --out DIR and -- PRODUCT-ARGS, not ") +
                          option +
                          " (it prints one line per input; each run's account is not kept)");
      }
    }
    const std::string prepared = sim::PrepareRunFolder(outDir);
    if (!prepared.empty()) {
      std::cerr << "cachesetup-sim: " << prepared << "\n";
      return sim::kSimUsageExitCode;
    }
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return sim::RunSummary(ec ? std::string(argv[0]) : self.string(), summaryInputs,
                           argsGiven ? std::optional(productArgs) : std::nullopt, outDir,
                           std::cout);
  }
  if (!compareDir.empty()) {
    const std::string problem = sim::CompareFolderProblem(compareDir);
    if (!problem.empty()) return UsageError(problem);
  }
  // A capture folder stands for the profile it holds, as it does for --summary.
  if (!machinePath.empty() && std::filesystem::is_directory(machinePath)) {
    const std::filesystem::path inFolder = std::filesystem::path(machinePath) / "machine.json";
    if (!std::filesystem::is_regular_file(inFolder)) {
      return UsageError(
          "--machine needs a profile file or a capture folder holding machine.json: " +
          machinePath + " is a folder without machine.json");
    }
    machinePath = inFolder.string();
  }

  sim::Profile profile;
  try {
    profile = machinePath.empty() ? sim::DefaultProfile() : sim::LoadProfile(machinePath);
  } catch (const sim::ProfileError& e) {
    std::cerr << "cachesetup-sim: bad profile: " << e.what() << "\n";
    return sim::kSimUsageExitCode;
  }

  if (!captureDir.empty()) return CaptureInto(std::move(profile), captureDir, productArgs, quiet);

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
    std::ofstream result(machine.root() / sim::kResultFile, std::ios::binary);
    result << sim::ResultJson(machine, exitCode, productArgs);
    if (!result.flush()) {
      std::cerr << "cachesetup-sim: cannot write " << (machine.root() / sim::kResultFile).string()
                << "\n";
      return sim::kSimUsageExitCode;
    }
    // The account is kept with the run, so a quiet run's outcome is on record too.
    std::ostringstream account;
    sim::PrintAccount(machine, exitCode, account);
    std::ofstream file(machine.root() / sim::kAccountFile, std::ios::binary);
    file << account.str();
    if (!file.flush()) {
      std::cerr << "cachesetup-sim: cannot write " << (machine.root() / sim::kAccountFile).string()
                << "\n";
      return sim::kSimUsageExitCode;
    }
    if (!quiet) std::cout << account.str();
    if (!compareDir.empty()) {
      // The replay's own verdict comes first: files that agree say nothing of how the run ended.
      const std::string verdict =
          "exited " + std::to_string(exitCode) + ": " + sim::Decision(machine, exitCode);
      std::cout << (quiet ? "" : "\n") << "The replay " << verdict << ".\n"
                << "The line's Temp files (" << compareDir << ") against the replay:\n";
      return sim::CompareWithLine(compareDir,
                                  machine.HostPath(machine.profile().windows_dir + L"\\Temp")
                                      .value_or(std::filesystem::path()),
                                  verdict, std::cout);
    }
  } catch (const sim::ProfileError& e) {
    // Raised while laying the machine out, for example by a disk image that cannot be read.
    std::cerr << "cachesetup-sim: bad profile: " << e.what() << "\n";
    return sim::kSimUsageExitCode;
  }
  return exitCode;
}
