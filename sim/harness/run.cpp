#include "sim/harness/run.h"

#include "app/entry.h"
#include "environment/run_environment.h"
#include "sim/core/text.h"
#include "sim/harness/disk_views.h"

namespace sim {

int RunProduct(Machine& machine, const std::wstring& commandLine) {
  SnapshotDisks(machine);
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

}  // namespace sim
