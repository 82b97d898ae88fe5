#include "sim/core/run_folder.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

namespace sim {

namespace fs = std::filesystem;

bool IsRunFolderName(const std::string& name) {
  if (name.size() == 1) {
    const char c = name[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');  // a drive's folder
  }
  for (const char* known : {kRunMarker, kDisksFolder, kTranscriptFile, kAfterJsonFile,
                            kAfterMachineFile, kAfterMachineFolder, kResultFile, kAccountFile,
                            kSummaryFile, kSummaryPage, kSummaryRunsFolder}) {
    if (name == known) return true;
  }
  return false;
}

namespace {

// The earlier run's folder that `dir` would lie inside, and the name `dir` takes there; empty
// when none. A summary's own runs, in its "runs" folder, are what a run makes there.
std::pair<fs::path, std::string> EnclosingRunFolder(const fs::path& dir) {
  std::error_code ec;
  const fs::path full = fs::weakly_canonical(fs::absolute(dir, ec), ec);
  fs::path below;
  for (fs::path at = full.parent_path(); !at.empty(); at = at.parent_path()) {
    below = full.lexically_relative(at);
    if (fs::exists(at / kRunMarker, ec)) {
      const std::string first = below.begin()->string();
      if (first == kSummaryRunsFolder) return {};
      return {at, first};
    }
    if (at == at.parent_path()) break;
  }
  return {};
}

}  // namespace

std::string PrepareRunFolder(const fs::path& dir) {
  std::error_code ec;
  // A run inside an earlier run's folder would leave a name there that no run makes, and that
  // folder would be refused from then on.
  if (const auto [outer, name] = EnclosingRunFolder(dir); !outer.empty()) {
    return "output folder " + dir.string() + " lies inside " + outer.string() +
           ", an earlier run's folder, where a run leaves only its own files ('" + name +
           "' is none of them); choose a folder outside it";
  }
  if (!fs::exists(dir, ec)) {
    fs::create_directories(dir, ec);
    if (ec) return "cannot create output folder " + dir.string() + ": " + ec.message();
  } else {
    if (!fs::is_directory(dir, ec)) return "output folder " + dir.string() + " is not a folder";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      names.push_back(entry.path().filename().string());
    }
    if (ec) return "cannot list output folder " + dir.string() + ": " + ec.message();
    std::sort(names.begin(), names.end());
    const bool marked = std::find(names.begin(), names.end(), kRunMarker) != names.end();
    for (const std::string& name : names) {
      if (!marked) {
        return "output folder " + dir.string() +
               " is not empty and holds no earlier run (it holds '" + name +
               "'); refusing to empty it";
      }
      if (!IsRunFolderName(name)) {
        return "output folder " + dir.string() + " holds '" + name +
               "', which no simulator run makes; refusing to empty it";
      }
    }
    for (const std::string& name : names) {
      // remove_all takes a symbolic link away, not what it points to.
      fs::remove_all(dir / name, ec);
      if (ec) return "cannot remove " + (dir / name).string() + ": " + ec.message();
    }
  }
  std::ofstream marker(dir / kRunMarker);
  marker << "This folder was laid out by cachesetup-sim. The next run removes what a run makes "
            "here and refuses the folder if it holds anything else.\n";
  if (!marker) return "cannot write in output folder " + dir.string();
  return std::string();
}

std::string FileSizeProblem(const fs::path& file, std::uint64_t bytes) {
#ifdef _WIN32
  constexpr std::uint64_t kLargestFile = (1ULL << 44) - (1ULL << 16);
  if (bytes > kLargestFile) return "beyond the largest file the simulator makes on Windows";
  (void)file;
  return std::string();
#else
  {
    std::ofstream create(file, std::ios::binary | std::ios::trunc);
    if (!create) return "cannot create " + file.string();
  }
  // Under a file size limit (ulimit -f) the kernel signals SIGXFSZ, which would end the
  // simulator; ignored, the resize fails with EFBIG like any other limit.
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  std::error_code ec;
  fs::resize_file(file, bytes, ec);
  if (previous != SIG_ERR) std::signal(SIGXFSZ, previous);
  std::error_code removed;
  fs::remove(file, removed);
  return ec ? ec.message() : std::string();
#endif
}

}  // namespace sim
