// The vendor's ACPI control device "\\.\QORACPI" of the simulated notebook, which evaluates the
// firmware method "DSTS" from the profile's firmware flags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// What the device answers for a flag that is set: bit 16 of the data word.
inline constexpr std::uint32_t kFirmwareFlagSet = 0x00010000;

// One method call as the device saw it.
struct FirmwareCall {
  std::uint32_t code = 0;
  std::vector<std::uint8_t> request;   // the input bytes as sent
  std::uint32_t argument_address = 0;  // the 32-bit form's address field
  std::vector<std::uint8_t> argument;  // the 8 argument bytes read (inline or at the address)
  std::uint32_t out_size = 0;
  std::uint32_t error = 0;  // 0: the call succeeded
};

// An answer a test puts in place of the profile's flags, for every call that follows.
struct FirmwareAnswer {
  bool fail = false;              // the call fails with ERROR_GEN_FAILURE
  bool write_on_failure = false;  // a failing call still fills the output as below
  std::uint16_t type = 0;
  std::uint16_t data_length = 4;
  std::uint32_t value = 0;         // the first data word, when `data` is empty
  std::vector<std::uint8_t> data;  // the bytes from offset 16 on, cut to the output buffer
};

struct FirmwareDeviceState : Machine::State {
  std::optional<FirmwareAnswer> answer;  // nullopt: answer from profile().firmware
  std::uint32_t open_error = 0;          // non-zero: every open fails with this error
  int opens = 0;
  std::uint32_t open_access = 0, open_share = 0;  // of the last successful open
  std::vector<FirmwareCall> calls;
};

inline FirmwareDeviceState& FirmwareState(Machine& machine) {
  return machine.state<FirmwareDeviceState>();
}

// Registers the device opener.
void SetUpFirmwareDevice(Machine& machine);

}  // namespace sim
