#include "app/entry.h"

#include "app/provisioning.h"
#include "environment/run_environment.h"

namespace {

int ExitCode(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kStoppedEarly:
      return kExitStoppedEarly;
    case RunOutcome::kReachedEnd:
      return kExitReachedEnd;
    case RunOutcome::kRefused:
      return kExitRefused;
    case RunOutcome::kNeedsRework:
      return kExitNeedsRework;
  }
  return kExitNeedsRework;
}

}  // namespace

int CacheSetupMain(const wchar_t* commandLine) {
  RunEnvironment& env = g_RunEnvironment;

  // The whole command line is searched, however long it is.
  env.szCommandLine = UpperCaseAscii(commandLine != nullptr ? commandLine : L"");
  env.bIsMaximizedMode = SelectMaximizedMode(env.szCommandLine, env.bIsMaximizedMode);

  // Redirection goes off before any path is resolved or used, and stays off for the run.
  if (Detect64BitWindows() == 1) {
    env.bIs64BitOS = 1;
    os::Wow64EnableWow64FsRedirection(false);
  }

  ResolveRunPaths();

  const os::HResult started = os::CoInitializeEx(os::kCoinitMultithreaded);
  if (os::Failed(started)) return ExitCode(RefuseWithoutCom(started));
  const os::HResult secured = os::CoInitializeSecurity(os::kRpcCAuthnLevelDefault,
                                                       os::kRpcCImpLevelImpersonate, os::kEoacNone);
  if (os::Failed(secured)) {
    os::CoUninitialize();
    return ExitCode(RefuseWithoutCom(secured));
  }
  env.bIsComInitialized = 1;

  return ExitCode(RunProvisioning());
}
