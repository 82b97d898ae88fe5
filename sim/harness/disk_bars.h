// A disk drawn as one line of text: its partitions and larger free spaces in proportion.
#pragma once

#include <cstddef>
#include <string>

#include "sim/harness/disk_views.h"

namespace sim {

// The characters between the brackets: "  before  [" + 80 + "] gpt" is 95 columns.
inline constexpr std::size_t kDiskBarInner = 80;

// "[" + kDiskBarInner characters + "]", whatever the table says: a damaged one may name
// partitions past the disk's end or overlapping each other, and is drawn as far as the disk goes.
std::string DiskBar(const DiskView& disk);

}  // namespace sim
