// The run environment as the entry point leaves it, for tests that call the product's steps
// one by one.
#pragma once

#include "environment/run_environment.h"

namespace testing_support {

// Start values, then the folders and tool paths resolved from the machine. COM stays as the
// test left it.
inline void ResolvedRunEnvironment() {
  ResetRunEnvironment();
  ResolveRunPaths();
}

// As ResolvedRunEnvironment, with the Windows bitness detected as well.
inline void DetectedRunEnvironment() {
  ResetRunEnvironment();
  g_RunEnvironment.bIs64BitOS = Detect64BitWindows();
  ResolveRunPaths();
}

}  // namespace testing_support
