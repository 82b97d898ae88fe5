#include "app/provisioning.h"

#include "app/run_environment.h"
#include "textout/format.h"
#include "textout/log_writer.h"

int RunProvisioning() {
  const RunEnvironment& env = g_RunEnvironment;

  LogWriter runLog;
  runLog.Open(textout::Format(L"%ls\\Temp\\TempProc.log", env.szWindowsDir.c_str()));

  // The probes and the provisioning branch come in between as they are built.

  runLog.WriteStamped(L"End process...");
  return 1;
}
