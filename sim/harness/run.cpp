#include "sim/harness/run.h"

#include <algorithm>

#include "app/entry.h"
#include "environment/run_environment.h"
#include "sim/core/text.h"
#include "sim/harness/disk_views.h"

namespace sim {

namespace {

// Thrown from the child-process hook to unwind the product to RunProduct when the power fails.
// It is no std::exception, and the product catches nothing, so nothing in between stops it; the
// product's holders release what they hold on the way.
struct PowerFailure {};

struct PowerState : Machine::State {
  std::optional<std::size_t> cut_after;
};

}  // namespace

std::optional<std::size_t> PowerCutFault(const Profile& profile) {
  for (const std::string& fault : profile.faults) {
    if (const auto n = PowerCutFault(fault)) return n;
  }
  return std::nullopt;
}

std::optional<std::size_t> PowerCutAfter(Machine& machine) {
  return machine.state<PowerState>().cut_after;
}

int RunProduct(Machine& machine, const std::wstring& commandLine) {
  SnapshotDisks(machine);
  ResetRunEnvironment();
  machine.state<PowerState>().cut_after.reset();
  const std::optional<std::size_t> cut = PowerCutFault(machine.profile());
  if (!cut) return CacheSetupMain(commandLine.c_str());
  machine.child_ended = [n = *cut](Machine& m) {
    const auto children = std::count_if(m.transcript().begin(), m.transcript().end(),
                                        [](const TranscriptEntry& e) { return e.kind == "run"; });
    if (static_cast<std::size_t>(children) == n) throw PowerFailure{};
  };
  int exitCode = kPowerCutExitCode;
  try {
    exitCode = CacheSetupMain(commandLine.c_str());
  } catch (const PowerFailure&) {
    machine.state<PowerState>().cut_after = *cut;
  }
  machine.child_ended = nullptr;
  return exitCode;
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
