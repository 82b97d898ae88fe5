// The provisioning sequence: one pass that decides and acts.
#pragma once

#include <cstdint>

// How a run ended; the entry point turns it into the process exit code.
enum class RunOutcome {
  kStoppedEarly,  // no disk listed, or no "Recovery" partition: nothing decided
  kReachedEnd,    // "End process..." logged, whether or not the gate let it provision
  kRefused,       // the evidence did not hold: no disk was changed
  kNeedsRework,   // a disk-changing step failed or could not be aimed after changes began
};

RunOutcome RunProvisioning();

// When COM cannot be set up nothing can be checked: one line in the run log, if it can be
// opened, and the run is refused.
RunOutcome RefuseWithoutCom(std::int32_t hresult);
