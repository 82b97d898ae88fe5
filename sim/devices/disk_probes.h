// What the simulated disks were asked through the SMART pass-through and the WMI service, in
// order, and which WMI interfaces are still out. Tests read it to check call order and leaks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

struct DiskProbeState : Machine::State {
  // One entry per step: "CoCreateInstance", "ConnectServer ROOT\CIMV2",
  // "CoSetProxyBlanket 10 0 3 3 0", "ExecQuery WQL <query> 0x30", "Next -1", "Get Index",
  // "Release IWbemServices", "SMART_GET_VERSION 0", "SMART_RCV_DRIVE_DATA 0" (drive numbers).
  std::vector<std::wstring> trace;

  // Every SMART_RCV_DRIVE_DATA input block as it arrived, with the drive it was sent to.
  struct IdentifyRequest {
    int drive = -1;
    std::vector<std::uint8_t> block;
  };
  std::vector<IdentifyRequest> identify_requests;

  // WMI interfaces handed out and not yet released.
  enum class Interface { Locator, Services, Enumerator, Object };
  struct LiveRef {
    Interface kind = Interface::Locator;
    std::size_t index = 0;  // Enumerator: objects handed out so far; Object: its disk
  };
  std::map<std::uintptr_t, LiveRef> live;
  std::uintptr_t next_ref = 0x7000;
  std::vector<std::wstring> releases;  // interface names, in release order
  int releases_without_com = 0;        // releases after COM was ended: a use-after-end
};

DiskProbeState& DiskProbes(Machine& machine);
const wchar_t* InterfaceName(DiskProbeState::Interface kind);

}  // namespace sim
