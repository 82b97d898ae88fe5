// The faults a profile may name: each platform step the simulator can make fail, and the form
// of the target after its name. A fault of any other name or form would make no step fail, so
// a misspelt one would pass as a healthy run: the loader refuses it.
#pragma once

#include <string>
#include <vector>

namespace sim {

// What may follow an operation's name: nothing ("Op", every call fails) or ":" and a target.
enum class FaultTarget {
  kNone,         // "Op" only
  kName,         // "Op" or "Op:Name", any name
  kNumber,       // "Op" or "Op:N", N a whole number written without leading zeros
  kNumberFrom1,  // as kNumber, N from 1
  kDriveRead,    // "Op", "Op:N" or "Op:N@S", N and S whole numbers without leading zeros
  kLetter,       // "Op" or "Op:L", L a letter A-Z
  kFirmware,     // "Op" or "Op:FirmwareMethod"
  kPowerCut,     // "PowerCut:N" only, N from 1
  kChildExit,    // "ChildExit:N=K" only, N from 1, K 0-4294967295
  kSeconds,      // "Op:S" only, S whole seconds 0-86400
};

struct FaultOperation {
  const char* name;
  FaultTarget target;
};

// Every operation a fault may name, in the order of the Faults table in
// docs/machine-profile.md.
const std::vector<FaultOperation>& FaultOperations();

// Why `fault` cannot stand after the faults `earlier` in a profile; empty when it can.
std::string FaultProblem(const std::string& fault, const std::vector<std::string>& earlier);

}  // namespace sim
