#include "sim/harness/capture_run.h"

#include <cstdio>

#include "capture/capture_main.h"
#include "environment/run_environment.h"
#include "sim/core/text.h"
#include "sim/disks/partition_table.h"
#include "sim/harness/run.h"
#include "sim/profile/profile.h"

namespace sim {

namespace {

// Where the capture writes inside the simulated machine: on the Windows folder's drive, which
// every simulated machine has.
std::wstring CaptureFolder(const Machine& machine) {
  return machine.profile().windows_dir.substr(0, 2) + L"\\cachesetup-capture";
}

std::string EntryType(const DiskLayout& layout, const LayoutEntry& e) {
  if (layout.style == DiskLayout::kGpt) return GuidText(e.gpt_type);
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", e.mbr_type);
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// What differs between the recorded layout and the one read back, empty when nothing does.
std::string LayoutDifference(const RecordedLayout& recorded, const DiskLayout& read) {
  const char* style = read.style == DiskLayout::kMbr   ? "mbr"
                      : read.style == DiskLayout::kGpt ? "gpt"
                                                       : "raw";
  if (recorded.style != style) return "style " + recorded.style + ", the pieces give " + style;
  if (recorded.entries.size() != read.entries.size()) {
    return std::to_string(recorded.entries.size()) + " entries, the pieces give " +
           std::to_string(read.entries.size());
  }
  for (std::size_t i = 0; i < read.entries.size(); ++i) {
    const RecordedEntry& r = recorded.entries[i];
    const LayoutEntry& e = read.entries[i];
    const bool recognisedDiffers =
        read.style == DiskLayout::kMbr && r.recognised && *r.recognised != e.recognized;
    if (r.number != e.number || r.start != e.offset || r.length != e.length ||
        Upper(r.type) != Upper(EntryType(read, e)) || recognisedDiffers) {
      return "entry " + std::to_string(i) + " is number " + std::to_string(r.number) + " at " +
             std::to_string(r.start) + ", " + std::to_string(r.length) + " bytes, type " + r.type +
             "; the pieces give number " + std::to_string(e.number) + " at " +
             std::to_string(e.offset) + ", " + std::to_string(e.length) + " bytes, type " +
             EntryType(read, e);
    }
  }
  return std::string();
}

}  // namespace

void CheckCapturedLayouts(Machine& machine) {
  const auto& disks = machine.profile().disks;
  for (std::size_t d = 0; d < disks.size(); ++d) {
    if (!disks[d].captured || !disks[d].captured->layout) continue;
    // A drive whose raw reads failed on capture gave no table sectors: it replays without
    // its table, and the product, whose reads fail there too, reads no label from it anyway.
    const std::optional<int> drive = disks[d].drive;
    if (drive && machine.Faulted("ReadFile", std::to_string(*drive))) continue;
    std::string difference =
        LayoutDifference(*disks[d].captured->layout, ReadDiskLayout(machine, static_cast<int>(d)));
    if (difference.empty()) continue;
    // A table sector whose read failed on capture is not in the pieces: say so, since no edit
    // of the files made this capture unreplayable.
    const std::string failed = drive ? "ReadFile:" + std::to_string(*drive) + "@" : "";
    for (const std::string& f : machine.profile().faults) {
      if (!failed.empty() && f.rfind(failed, 0) == 0) {
        difference += "; a read of the table failed when it was captured (fault " + f +
                      "), so the replay cannot lay out the table Windows read";
        break;
      }
    }
    throw ProfileError(ToUtf8(machine.profile().source) + ": key 'disks[" + std::to_string(d) +
                       "].captured.layout': " + difference);
  }
}

int RunCapture(Machine& machine, const std::vector<std::string>& arguments,
               const std::filesystem::path& outDir) {
  ResetRunEnvironment();
  // Power cuts and failing children are the product's run's; the capture's own children are
  // not counted among them.
  std::vector<std::string>& faults = machine.profile().faults;
  const std::vector<std::string> allFaults = faults;
  std::erase_if(faults, [](const std::string& f) {
    return PowerCutFault(f).has_value() || ChildExitFault(f).has_value();
  });
  std::vector<std::string> line = arguments;
  const std::wstring captureFolder = CaptureFolder(machine);
  line.push_back(ToUtf8(captureFolder));
  const int exitCode = CaptureMain(JoinCommandLine(line).c_str());
  faults = allFaults;
  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  const auto folder = machine.HostPath(captureFolder);
  if (!folder) return exitCode;
  for (const auto& entry : std::filesystem::directory_iterator(*folder, ec)) {
    std::filesystem::copy_file(entry.path(), outDir / entry.path().filename(),
                               std::filesystem::copy_options::overwrite_existing, ec);
  }
  return exitCode;
}

}  // namespace sim
