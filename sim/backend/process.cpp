// Simulated backend of the seam: programs are C++ handlers, run to their end at the start.
#include "platform/os.h"
#include "sim/core/machine.h"
#include "sim/devices/windows_codes.h"

namespace sim {
namespace {

struct ProcessObject : Machine::Object {
  std::uint32_t exit_code = 0;
};

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
  // The transcript line goes in before the child runs, so that children's own events follow it.
  const std::size_t line = m.transcript().size();
  m.transcript().push_back(sim::TranscriptEntry{"run", file, parameters, 0});
  const sim::Program handler = *program;  // the registry may change while the child runs
  auto child = std::make_unique<sim::ProcessObject>();
  child->exit_code = handler(m, parameters, directory);
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
