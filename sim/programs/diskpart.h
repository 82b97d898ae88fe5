// The simulated diskpart.exe in the system folder: "/s SCRIPT" runs the script's lines on the
// simulated disks, the way diskpart does, and stops at the first line that fails.
//
//   select disk N                       N: the physical drive number
//   select partition N                  N: the partition number on the selected disk
//   clean                               removes the partition table (refused on the disk of C:)
//   convert gpt | convert mbr           an empty disk gets a new, empty table
//   create partition efi|primary [size=MB] [id=TYPE]
//                                       the first free space (1 MiB aligned), all of it unless
//                                       size= is given; a disk without a table becomes MBR
//   format [fs=FAT32|NTFS] [label="X"] [quick] [override]
//   set id=GUID|BYTE [override]         the type of the selected partition
//   gpt attributes=0xHEX                the GPT attributes of the selected partition
//   rem ..., exit
//
// Keywords are case-insensitive and may be shortened to three letters. Exit codes are
// diskpart's own: 0 success, 2 bad arguments, 3 the script cannot be opened, 4 a disk service
// error, 5 a syntax error or nothing selected for the command. Messages go to standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

inline constexpr std::uint32_t kDiskpartBadArguments = 2;
inline constexpr std::uint32_t kDiskpartNoScript = 3;
inline constexpr std::uint32_t kDiskpartServiceError = 4;
inline constexpr std::uint32_t kDiskpartSyntaxError = 5;

// One run of diskpart: the script it was given, the lines it applied, the line it stopped at.
struct DiskpartRun {
  std::size_t transcript_line = 0;  // the run's line in the machine's transcript
  std::wstring parameters;
  std::wstring script;             // the script path, as given
  std::vector<std::string> lines;  // every non-blank line of the script, as UTF-8
  std::vector<std::string> applied;
  std::string failed_line;  // empty when every line was applied
  std::string error;        // what diskpart said about the failed line
  std::string output;       // what diskpart printed
  std::uint32_t exit_code = 0;
};

struct DiskpartState : Machine::State {
  std::vector<DiskpartRun> runs;
};

inline DiskpartState& Diskpart(Machine& machine) { return machine.state<DiskpartState>(); }

// Registers <system_dir>\diskpart.exe.
void SetUpDiskpart(Machine& machine);

}  // namespace sim
