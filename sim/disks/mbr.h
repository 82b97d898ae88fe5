// The MBR and the chain of extended boot records: the byte layout of their four slots.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/core/machine.h"
#include "sim/disks/partition_table.h"

namespace sim {

// Windows' test of whether an MBR partition type holds a volume it mounts.
bool IsRecognizedMbrType(std::uint8_t type);

// The 0x55 0xAA that ends an MBR, an extended boot record and a boot sector.
void PutBootSignature(std::span<std::uint8_t> sector);

// Writes slot `slot` (0-3) of an MBR or extended boot record.
void PutMbrEntry(std::span<std::uint8_t> sector, int slot, std::uint8_t type, std::uint64_t lba,
                 std::uint64_t sectors);

// Reads the MBR `mbr` (signed, without a protective entry) and its chain of extended boot
// records into *layout.
void ReadMbr(Machine& machine, int disk, std::span<const std::uint8_t> mbr, DiskLayout* layout);

// Writes a new MBR for `partitions` at *ranges. From the fifth on, partitions become logical
// partitions whose ranges shrink by what their extended boot records take.
bool WriteMbrTable(Machine& machine, int disk, const std::vector<PartitionSpec>& partitions,
                   std::vector<SectorRange>* ranges);

// Rewrites the four slots of the disk's MBR from layout.entries[0..3].
bool WriteMbrSlots(Machine& machine, int disk, const DiskLayout& layout);

}  // namespace sim
