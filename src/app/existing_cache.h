// A unit that already holds a cache volume: provisioned by an earlier run, or cut part-way after
// its cache was made. Its SSD hides behind the cache, so the identity proof cannot hold; what the
// unit is, is told from the storage tool's volume section and from what Windows shows instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "probes/disk_record.h"
#include "tools/rst_report.h"

struct ExistingCache {
  enum class State {
    kNone,        // the report shows no cache volume: the run goes on
    kInPlace,     // the cache, its acceleration and (Rapid Start) the IntelRST partition
    kIncomplete,  // a cache volume with a part missing, or one the report does not pin down
  };
  State state = State::kNone;
  std::wstring what;  // in place: what is; incomplete: what is missing, or why it is not read
};

// What is needed of the unit, and how Windows' disks are looked at.
struct ExistingCacheCheck {
  const DiskList& disks;  // the run's inventory
  const DiskRecord& MasterHDD;
  bool wantsIntelRst = false;  // Rapid Start: the data volume must hold the IntelRST partition
  std::wstring mode;           // "maximized" or "enhanced", as the run would set it
  std::vector<std::uint32_t> windowsDisks;
  // Whether the disk numbered so holds just the IntelRST partition a create script makes.
  std::function<bool(std::uint32_t)> holdsIntelRstPartition;
};

// Reads the report's volume section (`report`, the tool's bytes) against its `devices`. A cache
// volume counts only when its member is a device WMI no longer lists; one whose member Windows
// still lists is a state the product does not know, reported as incomplete.
ExistingCache CheckExistingCache(const std::string& report, const RstDeviceList& devices,
                                 const ExistingCacheCheck& check);
