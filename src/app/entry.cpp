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

  SettleBitnessAndPaths();

  const ComStart com = StartCom();
  if (com.failed != ComStart::Failed::kNone) return ExitCode(RefuseWithoutCom(com.hr));

  return ExitCode(RunProvisioning());
}
