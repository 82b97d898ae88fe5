// Simulated backend of the seam: programs are C++ handlers, run to their end at the start.
#include <algorithm>
#include <optional>

#include "platform/os.h"
#include "sim/core/machine.h"
#include "sim/devices/windows_codes.h"

namespace sim {
namespace {

struct ProcessObject : Machine::Object {
  std::uint32_t exit_code = 0;
};

// The exit code a "ChildExit:N=K" fault gives the run's `child`-th child process, if one does.
std::optional<std::uint32_t> ForcedExitCode(const Machine& m, std::size_t child) {
  for (const std::string& fault : m.profile().faults) {
    const auto forced = ChildExitFault(fault);
    if (forced && forced->first == child) return forced->second;
  }
  return std::nullopt;
}

}  // namespace
}  // namespace sim

namespace os {

bool ShellExecuteExW(const std::wstring& file, const std::wstring& parameters,
                     const std::wstring& directory, int show, RawHandle* process) {
  (void)show;
  sim::Machine& m = sim::Current();
  const sim::Program* program = m.FindProgram(file);
  std::uint32_t error = 0;
  if (m.Faulted("ShellExecuteExW")) {
    error = kErrorAccessDenied;
  } else if (program == nullptr) {
    error = kErrorFileNotFound;
  }
  if (error != 0) {
    m.transcript().push_back(sim::TranscriptEntry{"run", file, parameters, error});
    m.last_error = error;
    if (m.child_ended) m.child_ended(m);
    return false;
  }
  // Children are counted as the transcript lists them, starts that failed included.
  const std::size_t number =
      1 + static_cast<std::size_t>(std::count_if(m.transcript().begin(), m.transcript().end(),
                                                 [](const auto& e) { return e.kind == "run"; }));
  // The transcript line goes in before the child runs, so that children's own events follow it.
  const std::size_t line = m.transcript().size();
  m.transcript().push_back(sim::TranscriptEntry{"run", file, parameters, 0});
  auto child = std::make_unique<sim::ProcessObject>();
  if (const std::optional<std::uint32_t> forced = sim::ForcedExitCode(m, number)) {
    // The child ends at once with the code it was given: its program changes nothing.
    child->exit_code = *forced;
  } else {
    const sim::Program handler = *program;  // the registry may change while the child runs
    child->exit_code = handler(m, parameters, directory);
  }
  m.transcript()[line].value = child->exit_code;
  if (m.child_ended) m.child_ended(m);
  *process = m.AddObject(std::move(child));
  return true;
}

std::uint32_t WaitForSingleObject(RawHandle handle, std::uint32_t milliseconds) {
  (void)milliseconds;
  sim::Machine& m = sim::Current();
  if (m.FindObject(handle) == nullptr) {
    m.last_error = sim::kErrorInvalidHandle;
    return 0xFFFFFFFF;  // WAIT_FAILED
  }
  return 0;  // WAIT_OBJECT_0: the simulated child has already ended
}

bool GetExitCodeProcess(RawHandle process, std::uint32_t* exitCode) {
  sim::Machine& m = sim::Current();
  auto* child = dynamic_cast<sim::ProcessObject*>(m.FindObject(process));
  if (child == nullptr) {
    m.last_error = sim::kErrorInvalidHandle;
    return false;
  }
  *exitCode = child->exit_code;
  return true;
}

}  // namespace os
