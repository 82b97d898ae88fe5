#include "sim/profile/fault_list.h"

#include <cctype>

#include "sim/core/profile_model.h"

namespace sim {

const std::vector<FaultOperation>& FaultOperations() {
  static const std::vector<FaultOperation> kOperations = {
      {"CoInitializeEx", FaultTarget::kNone},
      {"CoInitializeSecurity", FaultTarget::kNone},
      {"CoCreateInstance", FaultTarget::kNone},
      {"ConnectServer", FaultTarget::kNone},
      {"CoSetProxyBlanket", FaultTarget::kNone},
      {"ExecQuery", FaultTarget::kNone},
      {"Next", FaultTarget::kNumberFrom1},
      {"Get", FaultTarget::kName},
      {"DeviceIoControl", FaultTarget::kFirmware},
      {"DriveLayout", FaultTarget::kNumber},
      {"ReadFile", FaultTarget::kDriveRead},
      {"GetLogicalDriveStringsW", FaultTarget::kNone},
      {"VolumeDiskExtents", FaultTarget::kLetter},
      {"ShellExecuteExW", FaultTarget::kNone},
      {"GetModuleHandleW", FaultTarget::kNone},
      {"GetProcAddress", FaultTarget::kName},
      {"IsWow64Process", FaultTarget::kNone},
      {"GetSystemWow64DirectoryW", FaultTarget::kNone},
      {"SHGetSpecialFolderPathW", FaultTarget::kNone},
      {"GetPhysicallyInstalledSystemMemory", FaultTarget::kNone},
      {"ChildExit", FaultTarget::kChildExit},
      {"PowerCut", FaultTarget::kPowerCut},
      {"DataVolumeDelay", FaultTarget::kSeconds},
  };
  return kOperations;
}

namespace {

// The steps compare a target with the number they print ("1", never "01"), so only that
// spelling can match.
bool PlainNumber(const std::string& text, std::size_t digits = 9) {
  return !text.empty() && text.size() <= digits &&
         text.find_first_not_of("0123456789") == std::string::npos &&
         (text == "0" || text[0] != '0');
}

bool TargetFits(FaultTarget form, const std::string& target) {
  switch (form) {
    case FaultTarget::kNone:
      return false;
    case FaultTarget::kName:
      return !target.empty();
    case FaultTarget::kNumber:
      return PlainNumber(target);
    case FaultTarget::kNumberFrom1:
      return PlainNumber(target) && target != "0";
    case FaultTarget::kDriveRead: {
      const std::size_t at = target.find('@');
      return PlainNumber(target.substr(0, at)) &&
             // Sectors of the largest disk (2^24 MiB) run to eleven digits.
             (at == std::string::npos || PlainNumber(target.substr(at + 1), 15));
    }
    case FaultTarget::kLetter:
      return target.size() == 1 && target[0] >= 'A' && target[0] <= 'Z';
    case FaultTarget::kFirmware:
      return target == "FirmwareMethod";
    case FaultTarget::kPowerCut:
    case FaultTarget::kChildExit:
    case FaultTarget::kSeconds:
      return false;  // checked on the whole fault
  }
  return false;
}

std::string FormText(const std::string& op, FaultTarget form) {
  switch (form) {
    case FaultTarget::kNone:
      return op + " (it takes no target)";
    case FaultTarget::kName:
      return op + " or " + op + ":Name";
    case FaultTarget::kNumber:
      return op + " or " + op + ":N with N a whole number without leading zeros";
    case FaultTarget::kNumberFrom1:
      return op + " or " + op + ":N with N a whole number from 1 without leading zeros";
    case FaultTarget::kDriveRead:
      return op + ", " + op + ":N or " + op +
             ":N@S with N and S whole numbers without leading zeros";
    case FaultTarget::kLetter:
      return op + " or " + op + ":L with L a letter A-Z";
    case FaultTarget::kFirmware:
      return op + " or " + op + ":FirmwareMethod";
    case FaultTarget::kPowerCut:
      return "PowerCut:N with N a whole number from 1 without leading zeros";
    case FaultTarget::kChildExit:
      return "ChildExit:N=K with N a whole number from 1, K from 0 to 4294967295, both without "
             "leading zeros";
    case FaultTarget::kSeconds:
      return op + ":S with S whole seconds from 0 to 86400 without leading zeros";
  }
  return op;
}

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string FaultProblem(const std::string& fault, const std::vector<std::string>& earlier) {
  const std::size_t colon = fault.find(':');
  const std::string op = fault.substr(0, colon);
  const FaultOperation* operation = nullptr;
  for (const FaultOperation& o : FaultOperations()) {
    if (op == o.name) operation = &o;
  }
  if (operation == nullptr) {
    std::string problem = "no step the simulator can fail is named '" + op + "'";
    for (const FaultOperation& o : FaultOperations()) {
      if (SameLetters(op, o.name)) problem += " (did you mean '" + std::string(o.name) + "'?)";
    }
    return problem;
  }
  bool fits = false;
  if (operation->target == FaultTarget::kPowerCut) {
    fits = PowerCutFault(fault).has_value();
  } else if (operation->target == FaultTarget::kChildExit) {
    const auto child = ChildExitFault(fault);
    fits = child.has_value();
    for (const std::string& e : earlier) {
      const auto other = ChildExitFault(e);
      if (child && other && other->first == child->first)
        return "a second ChildExit for child " + std::to_string(child->first);
    }
  } else if (operation->target == FaultTarget::kSeconds) {
    fits = DataVolumeDelayFault(fault).has_value();
    for (const std::string& e : earlier) {
      if (fits && DataVolumeDelayFault(e)) return "a second " + op;
    }
  } else {
    fits = colon == std::string::npos || TargetFits(operation->target, fault.substr(colon + 1));
  }
  return fits ? std::string() : "must be " + FormText(op, operation->target);
}

}  // namespace sim
