// How failing checks print the simulator's disk views (the account's and after.json's picture of
// the disks), so that a comparison of two pictures shows both.
#pragma once

#include <ostream>

#include "sim/harness/disk_views.h"

namespace sim {

inline void PrintTo(const PartitionView& p, std::ostream* out) {
  *out << "{partition " << p.number << " at " << p.offset << ", " << p.length << " bytes, type "
       << p.type << " (" << p.type_name << "), " << p.fs << ", label "
       << (p.label ? "\"" + *p.label + "\"" : std::string("none")) << ", attributes ";
  if (p.attributes) {
    *out << "0x" << std::hex << *p.attributes << std::dec;
  } else {
    *out << "none";
  }
  *out << "}";
}

inline void PrintTo(const DiskView& d, std::ostream* out) {
  *out << "{disk " << d.disk << ", " << d.role << ", drive "
       << (d.drive ? std::to_string(*d.drive) : "none") << ", " << d.style << ", " << d.bytes
       << " bytes, partitions [";
  for (std::size_t i = 0; i < d.partitions.size(); ++i) {
    *out << (i == 0 ? "" : ", ");
    PrintTo(d.partitions[i], out);
  }
  *out << "]}";
}

}  // namespace sim
