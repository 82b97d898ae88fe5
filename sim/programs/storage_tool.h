// The simulated storage tool: RSTCLI64.exe (64-bit Windows) or RSTCLI.exe (32-bit Windows) in
// <windows_dir>\Temp, present when the profile's storage_tool is true.
//
//   -V                                                   version block
//   -I                                                   the profile's storage_report verbatim,
//                                                        else a report built from disks[].rst
//   -M --delete-all-metadata                             deletes the cache and its data
//                                                        volume; the device is a disk again
//   --accelerate --createCache --SSD ID [--cache-size N] makes device ID the cache volume: the
//                                                        device leaves Windows' view, and what
//                                                        the cache leaves of it (N GiB, rounded
//                                                        up to whole MiB) is a new blank disk
//                                                        Windows sees, the data volume
//   --accelerate --setAccelConfig --disk-to-accel ID --mode maximized|enhanced
//
// Sizes are binary gigabytes (GiB), as the tool prints them. Anything else prints a usage error
// and exits with kRstUsageError; an unknown device id, a size beyond the device or a step out of
// order prints why and exits with kRstRequestFailed. Both go to standard error, as a console
// tool prints its errors, so that redirected output keeps only the tool's answers. The cache is
// made on whatever device it is given, a system disk included, unless the profile's
// storage_config.refuse_system_disk is set.
#pragma once

#include <string>

#include "sim/core/machine.h"

namespace sim {

inline constexpr std::uint32_t kRstUsageError = 1;
inline constexpr std::uint32_t kRstRequestFailed = 3;

// The model Windows shows for the data volume, as it shows the controller's volumes.
inline constexpr const char* kDataVolumeModel = "Intel Raid 0 Volume";

// What the tool has been asked to configure, for after.json and the tests.
struct StorageToolState : Machine::State {
  bool metadata_deleted = false;
  std::string cache_device;           // id given to --SSD; empty: no cache volume
  std::string cache_size;             // text given to --cache-size; empty: the whole device
  std::string accelerated_disk;       // id given to --disk-to-accel; empty: none
  std::string mode;                   // "maximized" or "enhanced"; empty: not set
  int data_volume = -1;               // profile index of the cache's data volume; -1: none
  std::vector<std::string> commands;  // every command line the tool received, in order
  // Each refusal the tool printed on its standard error, by the run's transcript line.
  struct Refusal {
    std::size_t transcript_line = 0;
    std::string command;
    std::string message;  // "Error: ...", without its line end
  };
  std::vector<Refusal> refusals;
  // A command of the run changed the configuration: a profile's storage_report, the controller
  // as it was, no longer describes it, and "-I" prints the report built from the disks.
  bool reconfigured = false;
};

inline StorageToolState& StorageTool(Machine& machine) { return machine.state<StorageToolState>(); }

// <windows_dir>\Temp\RSTCLI64.exe or ...\RSTCLI.exe, by the profile's Windows bits.
std::wstring StorageToolPath(const Machine& machine);

// The "-I" report built from the profile's disks (without storage_report).
std::string BuildStorageReport(Machine& machine);

// Registers the tool when the profile says it is present.
void SetUpStorageTool(Machine& machine);

}  // namespace sim
