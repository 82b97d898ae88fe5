// The readable account of a simulated run, for a person at a terminal.
#include <optional>

#include "sim/run.h"

namespace sim {

namespace {

void PrintFile(Machine& machine, const std::wstring& path, std::ostream& out) {
  const std::optional<std::string> bytes = machine.ReadFile(path);
  out << "\n--- " << ToUtf8(path);
  if (!bytes) {
    out << " (not written)\n";
    return;
  }
  out << " (" << bytes->size() << " bytes)\n";
  for (char c : *bytes) {
    if (c != '\r') out << c;
  }
}

}  // namespace

void PrintAccount(Machine& machine, int exitCode, std::ostream& out) {
  const Profile& p = machine.profile();
  out << "cachesetup-sim: " << ToUtf8(p.source) << "\n";
  out << "  Windows " << p.windows_bits << "-bit, " << ToUtf8(p.windows_dir) << ", memory "
      << (p.memory_kb ? std::to_string(*p.memory_kb / 1024) + " MB" : std::string("(query fails)"))
      << ", " << p.disks.size() << " disk(s)\n";
  out << "\nChild processes and pauses:\n";
  if (machine.transcript().empty()) out << "  (none)\n";
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind == "run") {
      out << "  run   " << ToUtf8(e.program) << " " << ToUtf8(e.parameters) << "  -> " << e.value
          << "\n";
    } else {
      out << "  " << e.kind << " " << e.value << " ms\n";
    }
  }
  if (!machine.console().empty()) out << "\nStandard output:\n" << ToUtf8(machine.console());
  const std::wstring temp = p.windows_dir + L"\\Temp\\";
  PrintFile(machine, temp + L"TempProc.log", out);
  PrintFile(machine, temp + L"TScriptClean2ndHDD.txt", out);
  PrintFile(machine, temp + L"TScriptCreate2ndHDD.txt", out);
  out << "\nExit code: " << exitCode << "\n";
  out << "Files are in " << machine.root().string() << "\n";
}

}  // namespace sim
