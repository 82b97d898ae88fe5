#include "sim/run.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/entry.h"
#include "app/run_environment.h"

namespace sim {

int RunProduct(Machine& machine, const std::wstring& commandLine) {
  (void)machine;
  ResetRunEnvironment();
  return CacheSetupMain(commandLine.c_str());
}

std::wstring JoinCommandLine(const std::vector<std::string>& args) {
  std::wstring line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += L' ';
    const std::wstring w = FromUtf8(arg);
    if (w.empty() || w.find_first_of(L" \t") != std::wstring::npos) {
      line += L'"' + w + L'"';
    } else {
      line += w;
    }
  }
  return line;
}

std::string TranscriptText(const Machine& machine) {
  std::string out;
  for (const TranscriptEntry& e : machine.transcript()) {
    if (e.kind == "run") {
      out += "run\t" + ToUtf8(e.program) + "\t" + ToUtf8(e.parameters) + "\t" +
             std::to_string(e.value) + "\n";
    } else {
      out += e.kind + "\t" + std::to_string(e.value) + "\n";
    }
  }
  return out;
}

std::string AfterJson(Machine& machine) {
  nlohmann::ordered_json after;
  after["elapsed_ms"] = machine.elapsed_ms();
  after["disks"] = nlohmann::ordered_json::array();
  return after.dump(2) + "\n";
}

bool WriteRunFiles(Machine& machine) {
  std::ofstream transcript(machine.root() / "transcript.tsv", std::ios::binary);
  transcript << TranscriptText(machine);
  std::ofstream after(machine.root() / "after.json", std::ios::binary);
  after << AfterJson(machine);
  return static_cast<bool>(transcript) && static_cast<bool>(after);
}

}  // namespace sim
