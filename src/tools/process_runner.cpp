#include "tools/process_runner.h"

#include "environment/run_environment.h"
#include "platform/os.h"

std::uint32_t RunProgram(const std::wstring& program, const std::wstring& parameters) {
  os::RawHandle process = 0;
  if (!os::ShellExecuteExW(program, parameters, g_RunEnvironment.szSystemDir, os::kSwHide,
                           &process)) {
    return os::GetLastError();
  }
  os::WaitForSingleObject(process, os::kInfinite);
  std::uint32_t exitCode = 0;
  os::GetExitCodeProcess(process, &exitCode);
  os::CloseHandle(process);
  return exitCode;
}
