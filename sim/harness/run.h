// One whole run of the product on a simulated machine, and the files it leaves.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// One disk as the account and after.json show it.
struct PartitionView {
  std::uint32_t number = 0;
  std::uint64_t offset = 0, length = 0;
  std::string type;                  // "0x07" on MBR, the type GUID on GPT
  std::string type_name;             // "Basic data", "Intel Rapid Start", ... (empty when unknown)
  std::string fs;                    // "NTFS", "FAT32", "BitLocker", "RAW"
  std::optional<std::string> label;  // UTF-8; nullopt when the file system is not mounted
  std::optional<std::uint64_t> attributes;  // GPT only
  bool operator==(const PartitionView&) const = default;
};
struct DiskView {
  int disk = 0;              // profile index
  std::optional<int> drive;  // physical drive number
  std::string style;         // "mbr", "gpt" or "raw" (no partition table)
  std::uint64_t bytes = 0;
  std::vector<PartitionView> partitions;
  bool operator==(const DiskView&) const = default;
};

// Every profile disk as its image holds it now.
std::vector<DiskView> ViewDisks(Machine& machine);
// Keeps the disks as they are now as the "before" picture (RunProduct does it at its start).
void SnapshotDisks(Machine& machine);
// The "before" picture, or nullptr when none was taken.
const std::vector<DiskView>* DisksBefore(Machine& machine);

// Runs the product's entry logic once with `commandLine` (the product's arguments) on the
// installed machine, from a fresh run environment, after a snapshot of the disks. Returns the
// exit code.
int RunProduct(Machine& machine, const std::wstring& commandLine);

// Joins arguments into a Windows command line, quoting those with blanks.
std::wstring JoinCommandLine(const std::vector<std::string>& args);

// transcript.tsv: one line per event, fields separated by one tab, UTF-8, LF.
std::string TranscriptText(const Machine& machine);
// after.json: the simulated machine after the run.
std::string AfterJson(Machine& machine);
// Writes transcript.tsv and after.json into the machine's root folder.
bool WriteRunFiles(Machine& machine);

// The readable account of a run for a person.
void PrintAccount(Machine& machine, int exitCode, std::ostream& out);

}  // namespace sim
