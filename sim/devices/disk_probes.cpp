#include "sim/devices/disk_probes.h"

namespace sim {

DiskProbeState& DiskProbes(Machine& machine) { return machine.state<DiskProbeState>(); }

const wchar_t* InterfaceName(DiskProbeState::Interface kind) {
  switch (kind) {
    case DiskProbeState::Interface::Locator:
      return L"IWbemLocator";
    case DiskProbeState::Interface::Services:
      return L"IWbemServices";
    case DiskProbeState::Interface::Enumerator:
      return L"IEnumWbemClassObject";
    case DiskProbeState::Interface::Object:
      return L"IWbemClassObject";
  }
  return L"?";
}

}  // namespace sim
