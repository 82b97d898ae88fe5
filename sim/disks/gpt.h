// GPT: the header at LBA 1 and its backup at the last LBA, each naming a copy of the entry
// array, both guarded by CRC-32.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/core/machine.h"
#include "sim/disks/partition_table.h"

namespace sim {

// Reads the table the header at LBA 1 describes into *layout; without a header the layout is
// left as it is (a protective MBR without a GPT is RAW).
void ReadGpt(Machine& machine, int disk, DiskLayout* layout);

// Writes a protective MBR and a new GPT, both copies, for `partitions` at `placed`, on a disk
// of `sectors` sectors.
bool WriteGptTable(Machine& machine, int disk, std::uint64_t sectors,
                   const std::vector<PartitionSpec>& partitions,
                   const std::vector<SectorRange>& placed);

// Rewrites the used entries of the disk's GPT from `layout` into both entry arrays and renews
// both headers' checksums.
bool WriteGptEntries(Machine& machine, int disk, const DiskLayout& layout);

}  // namespace sim
