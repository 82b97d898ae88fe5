#include "app/entry.h"

#include "app/provisioning.h"
#include "environment/run_environment.h"

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

  if (os::Failed(os::CoInitializeEx(os::kCoinitMultithreaded))) return 0;
  if (os::Failed(os::CoInitializeSecurity(os::kRpcCAuthnLevelDefault, os::kRpcCImpLevelImpersonate,
                                          os::kEoacNone))) {
    os::CoUninitialize();
    return 0;
  }
  env.bIsComInitialized = 1;

  return RunProvisioning() == 0 ? 1 : 0;
}
