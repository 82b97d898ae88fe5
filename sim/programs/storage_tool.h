// The simulated storage tool: RSTCLI64.exe (64-bit Windows) or RSTCLI.exe (32-bit Windows) in
// <windows_dir>\Temp, present when the profile's storage_tool is true.
//
//   -V                                                   version block
//   -I                                                   the profile's storage_report verbatim,
//                                                        else a report built from disks[].rst
//   -M --delete-all-metadata                             forgets the cache configuration
//   --accelerate --createCache --SSD ID [--cache-size N] makes device ID the cache volume
//   --accelerate --setAccelConfig --disk-to-accel ID --mode maximized|enhanced
//
// Anything else prints a usage error and exits with kRstUsageError; an unknown device id or a
// step out of order prints a message and exits with kRstRequestFailed.
#pragma once

#include <string>

#include "sim/core/machine.h"

namespace sim {

inline constexpr std::uint32_t kRstUsageError = 1;
inline constexpr std::uint32_t kRstRequestFailed = 3;

// What the tool has been asked to configure, for after.json and the tests.
struct StorageToolState : Machine::State {
  bool metadata_deleted = false;
  std::string cache_device;           // id given to --SSD; empty: no cache volume
  std::string cache_size;             // text given to --cache-size; empty: the whole device
  std::string accelerated_disk;       // id given to --disk-to-accel; empty: none
  std::string mode;                   // "maximized" or "enhanced"; empty: not set
  std::vector<std::string> commands;  // every command line the tool received, in order
};

inline StorageToolState& StorageTool(Machine& machine) { return machine.state<StorageToolState>(); }

// <windows_dir>\Temp\RSTCLI64.exe or ...\RSTCLI.exe, by the profile's Windows bits.
std::wstring StorageToolPath(const Machine& machine);

// The "-I" report built from the profile's disks (without storage_report).
std::string BuildStorageReport(Machine& machine);

// Registers the tool when the profile says it is present.
void SetUpStorageTool(Machine& machine);

}  // namespace sim
