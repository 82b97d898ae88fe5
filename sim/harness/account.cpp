#include "sim/harness/account.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>

#include "app/entry.h"
#include "sim/core/text.h"
#include "sim/disks/disk_image.h"
#include "sim/harness/account_text.h"
#include "sim/harness/disk_bars.h"
#include "sim/harness/disk_views.h"
#include "sim/harness/result_file.h"
#include "sim/harness/run.h"
#include "sim/programs/diskpart.h"
#include "sim/programs/storage_tool.h"

namespace sim {

namespace {

constexpr std::size_t kColumns = 100;

// The account's own sizes are binary: MiB and GiB, said so. (The storage tool prints its GiB as
// "GB"; where the account quotes the tool, it says so.)
std::string Size(std::uint64_t bytes) {
  char text[32];
  if (bytes < (1ull << 30)) {
    std::snprintf(text, sizeof(text), "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
  } else {
    std::snprintf(text, sizeof(text), "%.2f GiB", static_cast<double>(bytes) / (1ull << 30));
  }
  return text;
}

std::string Clock(std::uint64_t ms) {
  char text[48];
  std::snprintf(text, sizeof(text), "%02llu:%02llu", static_cast<unsigned long long>(ms / 60000),
                static_cast<unsigned long long>(ms / 1000 % 60));
  return text;
}

std::string YesNo(bool b) { return b ? "yes" : "no"; }

// A file of the Temp folder; one an earlier run left there is marked as such.
void PrintFile(Machine& machine, const std::wstring& name, std::ostream& out) {
  const std::wstring path = machine.profile().windows_dir + L"\\Temp\\" + name;
  const std::optional<std::string> bytes = machine.ReadFile(path);
  const TempFile* left = nullptr;
  for (const TempFile& file : machine.profile().temp_files) {
    if (UpperPath(file.name) == UpperPath(name)) left = &file;
  }
  out << "\n" << ToUtf8(path);
  if (!bytes) {
    out << ": not written\n";
    return;
  }
  const std::string origin = left == nullptr         ? ""
                             : left->bytes == *bytes ? ", left by an earlier run, not written now"
                                                     : ", rewritten (an earlier run left one)";
  out << " (" << bytes->size() << " bytes" << origin << ")"
      << (bytes->empty() ? ": empty\n" : ":\n");
  std::string line;
  for (char c : *bytes) {
    if (c == '\r') continue;
    if (c != '\n') {
      line.push_back(c);
      continue;
    }
    out << "  " << line << "\n";
    line.clear();
  }
  if (!line.empty()) out << "  " << line << "\n";
}

void PrintPartitions(const DiskView& d, std::ostream& out) {
  for (const PartitionView& p : d.partitions) {
    char line[200];
    const std::string label = p.label ? "\"" + *p.label + "\"" : "-";
    std::snprintf(line, sizeof(line), "          %2u  %-11s %-7s %-10s at %-10s %-17s", p.number,
                  label.c_str(), p.fs.c_str(), Size(p.length).c_str(), Size(p.offset).c_str(),
                  (p.type_name.empty() ? p.type : p.type_name).c_str());
    std::string text = line;
    if (p.attributes && *p.attributes != 0) {
      char attributes[32];
      std::snprintf(attributes, sizeof(attributes), " attr 0x%016llX",
                    static_cast<unsigned long long>(*p.attributes));
      text += attributes;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  }
}

// How the account names a disk: by Windows' disk number (diskpart's), or as Windows does not see
// it.
std::string DiskName(const DiskView& d, const Disk& profile) {
  if (d.role == "cache device") {
    return "not seen by Windows (cache device " + (profile.rst ? profile.rst->id : "?") + ")";
  }
  std::string name = d.drive ? "disk " + std::to_string(*d.drive) : "no disk number";
  if (d.role == "data volume") name += ", the cache's data volume";
  return name;
}

void PrintDisks(Machine& machine, std::ostream& out) {
  const std::vector<DiskView> after = ViewDisks(machine);
  const std::vector<DiskView>* before = DisksBefore(machine);
  // Every disk the run found or left, a deleted one included, in the simulator's order.
  std::vector<int> slots;
  for (const DiskView& d : after) slots.push_back(d.disk);
  for (std::size_t i = 0; before != nullptr && i < before->size(); ++i) {
    if (std::find(slots.begin(), slots.end(), (*before)[i].disk) == slots.end())
      slots.push_back((*before)[i].disk);
  }
  std::sort(slots.begin(), slots.end());
  out << "\nDisks before and after the run (by Windows' disk numbers, as diskpart selects them):\n";
  if (slots.empty()) out << "  (none)\n";
  const StorageToolState& tool = StorageTool(machine);
  for (const int slot : slots) {
    const DiskView* was = nullptr;
    const DiskView* now = nullptr;
    for (std::size_t i = 0; before != nullptr && i < before->size(); ++i) {
      if ((*before)[i].disk == slot) was = &(*before)[i];
    }
    for (const DiskView& d : after) {
      if (d.disk == slot) now = &d;
    }
    const Disk& profile = machine.profile().disks[static_cast<std::size_t>(slot)];
    const DiskView& shown = now != nullptr ? *now : *was;
    std::string title = "  " + DiskName(shown, profile) + ", " + Size(shown.bytes);
    const std::string model = WmiText(profile, L"Model", WmiNumbers::kShown);
    if (!model.empty()) title += ", " + model;
    if (profile.rst && !profile.rst->id.empty() && profile.rst->id == tool.accelerated_disk) {
      title += ", accelerated";
    }
    const bool changed = was != nullptr && now != nullptr && !(*was == *now);
    if (now == nullptr) {
      title += ": DELETED by the run";
    } else if (was == nullptr) {
      title += before != nullptr ? ": new" : ": (no picture from before the run)";
    } else if (was->drive != now->drive || was->role != now->role) {
      title += ": CHANGED (was " + DiskName(*was, profile) + ")";
    } else {
      title += changed ? ": CHANGED" : ": unchanged";
    }
    out << "\n" << title << "\n";
    if (changed) {
      out << "  before  " << DiskBar(*was) << " " << was->style << "\n";
      PrintPartitions(*was, out);
      out << "  after   " << DiskBar(*now) << " " << now->style << "\n";
    } else {
      out << "          " << DiskBar(shown) << " " << shown.style << "\n";
    }
    PrintPartitions(shown, out);
  }
}

// A storage-tool device by its id, with its model and its size on the disk itself (the report's
// text may be rounded where a capture took it).
std::string DeviceName(Machine& machine, const std::string& id) {
  for (std::size_t i = 0; i < machine.profile().disks.size(); ++i) {
    const Disk& d = machine.profile().disks[i];
    if (d.rst && d.rst->id == id) {
      return id + " (" + d.rst->model + ", " + Size(DiskBytes(machine, static_cast<int>(i))) + ")";
    }
  }
  return id + " (not a device the tool lists)";
}

void PrintStorageTool(Machine& machine, std::ostream& out) {
  const StorageToolState& tool = StorageTool(machine);
  out << "\nStorage tool after the run:\n";
  if (machine.FindProgram(StorageToolPath(machine)) == nullptr) {
    out << "  " << ToUtf8(StorageToolPath(machine)) << " is not on this machine\n";
    return;
  }
  out << "  commands received: " << tool.commands.size()
      << "; metadata deleted: " << YesNo(tool.metadata_deleted) << "\n";
  if (tool.cache_device.empty()) {
    out << "  no cache volume\n";
  } else {
    out << "  cache volume on " << DeviceName(machine, tool.cache_device) << ", size "
        << (tool.cache_size.empty()
                ? std::string("the whole device")
                : tool.cache_size + " GiB (--cache-size " + tool.cache_size + ")")
        << "\n";
    if (tool.data_volume < 0) {
      out << "  no data volume: the cache takes the whole device\n";
    } else {
      const Disk& volume = machine.profile().disks[static_cast<std::size_t>(tool.data_volume)];
      out << "  data volume: "
          << (volume.drive ? "disk " + std::to_string(*volume.drive)
                           : std::string("no disk number"))
          << ", " << Size(DiskBytes(machine, tool.data_volume)) << "\n";
    }
  }
  if (tool.accelerated_disk.empty()) {
    out << "  no disk accelerated\n";
  } else {
    out << "  accelerated disk " << DeviceName(machine, tool.accelerated_disk) << ", mode "
        << tool.mode << "\n";
  }
}

void PrintProfile(Machine& machine, int exitCode, std::ostream& out) {
  const Profile& p = machine.profile();
  out << "cachesetup-sim: " << ToUtf8(p.source) << "\n";
  std::string arguments;
  for (const std::string& a : p.arguments) arguments += (arguments.empty() ? "" : " ") + a;
  out << "  cachesetup " << (arguments.empty() ? "(no arguments)" : arguments) << " -> "
      << Decision(machine, exitCode) << ", exit " << exitCode << "\n";
  char clock[32];
  std::snprintf(clock, sizeof(clock), "%04u-%02u-%02u %02u:%02u:%02u", p.clock.year, p.clock.month,
                p.clock.day, p.clock.hour, p.clock.minute, p.clock.second);
  out << "  Windows " << p.windows_bits << "-bit in " << ToUtf8(p.windows_dir) << " (system "
      << ToUtf8(p.system_dir) << (p.temp_folder ? "" : ", no Temp folder") << "), clock " << clock
      << "\n";
  out << "  memory "
      << (p.memory_kb ? std::to_string(*p.memory_kb / 1024) + " MB" : std::string("(query fails)"));
  if (p.firmware) {
    out << "; firmware IFFS " << YesNo(p.firmware->IFFS) << ", RAID0 " << YesNo(p.firmware->RAID0)
        << ", ISRT " << YesNo(p.firmware->ISRT) << ", Diskeeper " << YesNo(p.firmware->Diskeeper)
        << "\n";
  } else {
    out << "; no firmware control device\n";
  }
  out << "  service installer " << (p.installer ? "present" : "absent") << "; storage tool "
      << (p.storage_tool ? "present" : "absent")
      << (p.storage_report.empty() ? "" : ", report from " + p.storage_report.string()) << "\n";
  if (!p.faults.empty()) {
    std::string faults;
    for (const std::string& f : p.faults) faults += (faults.empty() ? "" : ", ") + f;
    WriteWrapped(out, "  faults: " + faults, kColumns, 0);
  }
  // The disks as the run found them: those Windows saw, by its disk numbers.
  out << "  disks Windows saw, by disk number:\n";
  const std::vector<DiskView>* before = DisksBefore(machine);
  std::vector<int> seen;
  for (std::size_t i = 0; before != nullptr && i < before->size(); ++i) {
    if ((*before)[i].role != "cache device") seen.push_back((*before)[i].disk);
  }
  if (seen.empty()) out << "    (none)\n";
  for (const int slot : seen) {
    const Disk& d = p.disks[static_cast<std::size_t>(slot)];
    std::string line = "    " + (d.drive ? "disk " + std::to_string(*d.drive) : "no disk number") +
                       "  " + WmiText(d, L"Model", WmiNumbers::kShown) + "  ";
    const std::string media = WmiText(d, L"MediaType", WmiNumbers::kShown);
    line += (media.empty() ? std::string("(no media type)") : media) + "  ";
    switch (d.rotation.kind) {
      case Rotation::Kind::Rate:
        line += "rotation " + std::to_string(d.rotation.rate);
        break;
      case Rotation::Kind::NoOpen:
        line += "rotation: drive does not open";
        break;
      case Rotation::Kind::NoSmart:
        line += "rotation: no SMART";
        break;
      case Rotation::Kind::IdentifyFails:
        line += "rotation: IDENTIFY fails";
        break;
    }
    line += d.rst ? "  tool id " + d.rst->id + " " + d.rst->size : "  not listed by the tool";
    out << line << "\n";
  }
}

void PrintTranscript(Machine& machine, std::ostream& out) {
  out << "\nChild processes and pauses (virtual time since the start):\n";
  if (machine.transcript().empty()) out << "  (none)\n";
  const std::vector<DiskpartRun>& diskpart = Diskpart(machine).runs;
  std::uint64_t elapsed = 0;
  for (std::size_t i = 0; i < machine.transcript().size(); ++i) {
    const TranscriptEntry& e = machine.transcript()[i];
    const std::string time = "  " + Clock(elapsed) + "  ";
    if (e.kind != "run") {
      out << time << e.kind << " " << e.value << " ms\n";
      elapsed += e.value;
      continue;
    }
    const std::string exit = "  -> exit " + std::to_string(e.value);
    const std::string whole = ToUtf8(e.program) + " " + ToUtf8(e.parameters);
    if (time.size() + whole.size() + exit.size() <= kColumns) {
      out << time << whole << exit << "\n";
    } else {
      out << time << ToUtf8(e.program) << exit << "\n";
      WriteWrapped(out, std::string(time.size() + 4, ' ') + ToUtf8(e.parameters), kColumns, 0);
    }
    for (const StorageToolState::Refusal& refusal : StorageTool(machine).refusals) {
      if (refusal.transcript_line != i) continue;
      WriteWrapped(out,
                   std::string(time.size() + 4, ' ') +
                       "the storage tool refused it, on standard error: " + refusal.message,
                   kColumns, 0);
    }
    for (const DiskpartRun& run : diskpart) {
      if (run.transcript_line != i) continue;
      const std::string indent(time.size() + 4, ' ');
      if (run.failed_line.empty() && run.exit_code == 0) {
        out << indent << "diskpart applied all " << run.applied.size() << " lines\n";
      } else {
        out << indent << "diskpart applied " << run.applied.size() << " of " << run.lines.size()
            << " lines"
            << (run.failed_line.empty() ? std::string()
                                        : " and stopped at \"" + run.failed_line + "\"")
            << ":\n";
        std::string said = run.error;
        std::string line;
        for (char c : said + "\n") {
          if (c == '\r') continue;
          if (c == '\n') {
            if (!line.empty()) WriteWrapped(out, indent + "  " + line, kColumns, 0);
            line.clear();
          } else {
            line.push_back(c);
          }
        }
      }
    }
  }
}

}  // namespace

namespace {

// Whether the product proved which disk is which, as its run log and children show it (the log's
// own line says what did not match).
const char* IdentityLine(Machine& machine) {
  const std::optional<std::string> log =
      machine.ReadFile(machine.profile().windows_dir + L"\\Temp\\TempProc.log");
  if (log && log->find("[Debug]: Disk identity not proven") != std::string::npos) {
    return "NOT PROVEN, no disk changed (the run log says what did not match)";
  }
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind == "run" && e.parameters.find(L"TScriptClean2ndHDD.txt") != std::wstring::npos) {
      return "proven (cache device = SecondHDD, disk to accelerate = MasterHDD)";
    }
  }
  return "not needed (no storage-tool device was chosen)";
}

}  // namespace

void PrintAccount(Machine& machine, int exitCode, std::ostream& out) {
  // The account's own lines are broken to the terminal's width; the product's output and the
  // files it wrote are quoted as they are. Nothing a profile or disk carries reaches the terminal
  // as a control character.
  std::ostringstream part;
  const auto flush = [&part, &out](bool wrap) {
    const std::string text = Printable(part.str(), !wrap);
    if (wrap) {
      WriteWrapped(out, text, kColumns);
    } else {
      out << text;
    }
    part.str("");
  };
  PrintProfile(machine, exitCode, part);
  PrintTranscript(machine, part);
  flush(true);
  if (!machine.console().empty()) {
    part << "\nThe product's standard output:\n";
    std::string line;
    for (char c : ToUtf8(machine.console()) + "\n") {
      if (c == '\r') continue;
      if (c == '\n') {
        if (!line.empty()) part << "  " << line << "\n";
        line.clear();
      } else {
        line.push_back(c);
      }
    }
  }
  PrintFile(machine, L"TempProc.log", part);
  PrintFile(machine, L"TScriptClean2ndHDD.txt", part);
  PrintFile(machine, L"TScriptCreate2ndHDD.txt", part);
  flush(false);
  part << "\nDisk identity: " << IdentityLine(machine) << "\n";
  part << "Decision: " << Decision(machine, exitCode) << "\n";
  // The run log names the step and its exit code; the tool's own words say why.
  const std::vector<StorageToolState::Refusal>& refusals = StorageTool(machine).refusals;
  if (exitCode == kExitNeedsRework && !refusals.empty()) {
    part << "  the storage tool said (\"" << refusals.back().command
         << "\"): " << refusals.back().message << "\n";
  }
  PrintDisks(machine, part);
  PrintStorageTool(machine, part);
  if (const auto cut = PowerCutAfter(machine)) {
    part << "\nTHE POWER WAS CUT after child process " << *cut << " ended";
    std::size_t children = 0;
    for (const TranscriptEntry& e : machine.transcript()) {
      if (e.kind == "run" && ++children == *cut) part << " (" << ToUtf8(e.program) << ")";
    }
    part << ": the product stopped there; what it had written stays.\n";
    part << "Exit code: " << exitCode << " (the power was cut)";
  } else {
    part << "\nExit code: " << exitCode << " (" << ExitMeaning(exitCode) << ")";
  }
  part << "; virtual time " << machine.elapsed_ms() / 1000.0 << " s\n";
  part << "Files (result.json, account.txt, transcript.tsv, after.json, after-machine.json, C/, "
          "disks) are in\n";
  flush(true);
  // One line, unbroken, so that it can be copied.
  part << "  " << machine.root().string() << "\n";
  flush(false);
}

}  // namespace sim
