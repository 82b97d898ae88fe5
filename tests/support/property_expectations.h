// The disk-safety property's expectations: what a random machine must do, worked out from its
// profile alone, and the machine described for a failing case.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "sim/core/profile_model.h"
#include "sim/core/text.h"
#include "tests/support/random_machine.h"

namespace testing_support {

inline bool IsRecoveryLabel(const std::wstring& label) {
  std::wstring lower;
  for (wchar_t c : label) lower.push_back(c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c);
  return lower == L"recovery";
}

inline const os::WmiValue* Property(const sim::Disk& d, const wchar_t* name) {
  for (const sim::WmiProperty& p : d.wmi) {
    if (p.name == name) return &p.value;
  }
  return nullptr;
}

inline std::uint32_t WmiIndex(const sim::Disk& d) {
  const os::WmiValue* v = Property(d, L"Index");
  return v != nullptr && v->kind == os::WmiValue::Kind::Int32 ? static_cast<std::uint32_t>(v->i32)
                                                              : 0;
}

inline bool IsFixed(const sim::Disk& d) {
  const os::WmiValue* v = Property(d, L"MediaType");
  return v != nullptr && v->kind == os::WmiValue::Kind::Text && v->text == kFixed;
}

// What the machine must do, worked out from its profile alone.
struct Expected {
  bool inventory = false;  // the inventory lists at least one disk
  int locator = 4;         // 0 found, 4 none, 5 a layout query failed
  int recoveryDrive = 0;   // the drive number the locator stops at
  bool gate = false;       // the provisioning branch starts
  std::uint32_t secondIndex = 0;
  int second = -1, master = -1;  // profile indices of SecondHDD and MasterHDD
};

inline Expected Expect(const Machine& m) {
  const sim::Profile& p = m.profile;
  Expected e;
  bool execQueryFails = false;
  for (const std::string& f : p.faults) execQueryFails |= f == "ExecQuery";
  // Windows sees neither a cache device nor a deleted data volume.
  std::vector<int> seen;
  for (std::size_t i = 0; i < p.disks.size(); ++i) {
    if (sim::SeenByWindows(p.disks[i])) seen.push_back(static_cast<int>(i));
  }
  e.inventory = !execQueryFails && !seen.empty();

  // The locator walks drive numbers from 0 until one does not exist.
  for (int n = 0; n <= 10 && e.locator == 4; ++n) {
    const sim::Disk* disk = nullptr;
    for (int i : seen) {
      if (p.disks[i].drive && *p.disks[i].drive == n) {
        disk = &p.disks[i];
        break;
      }
    }
    if (disk == nullptr) break;
    bool layoutFails = false;
    for (int f : m.layoutFaults) layoutFails |= f == n;
    if (layoutFails) {
      e.locator = 5;
      e.recoveryDrive = n;
      break;
    }
    for (const sim::Partition& part : disk->partitions) {
      if ((part.fs == "ntfs" || part.fs == "fat32") && IsRecoveryLabel(part.label)) {
        e.locator = 0;
        e.recoveryDrive = n;
        break;
      }
    }
  }

  int fixed = 0;
  for (int i : seen) {
    if (!IsFixed(p.disks[i])) continue;
    ++fixed;
    if (e.master < 0 && static_cast<std::int64_t>(WmiIndex(p.disks[i])) == e.recoveryDrive) {
      e.master = i;
    } else {
      e.second = i;
      e.secondIndex = WmiIndex(p.disks[i]);
    }
  }
  const bool flags = p.firmware && !p.firmware->RAID0 && p.firmware->ISRT;
  e.gate = e.inventory && e.locator == 0 && fixed == 2 && flags && e.master >= 0 && e.second >= 0 &&
           static_cast<std::int64_t>(e.secondIndex) != e.recoveryDrive;
  return e;
}

inline std::string Describe(const Machine& m) {
  std::ostringstream out;
  const sim::Profile& p = m.profile;
  out << "bits " << p.windows_bits << ", memory "
      << (p.memory_kb ? std::to_string(*p.memory_kb) : "none") << " KB, firmware ";
  if (p.firmware) {
    out << "IFFS " << p.firmware->IFFS << " RAID0 " << p.firmware->RAID0 << " ISRT "
        << p.firmware->ISRT;
  } else {
    out << "none";
  }
  out << ", command line \"" << sim::ToUtf8(m.commandLine) << "\", faults";
  for (const std::string& f : p.faults) out << " " << f;
  if (!p.storage_tool) out << ", no storage tool";
  if (!p.storage_report.empty()) out << ", report " << p.storage_report.filename().string();
  if (p.storage_config.volume_number) out << ", data volume " << *p.storage_config.volume_number;
  out << "\n";
  for (const sim::Disk& d : p.disks) {
    const os::WmiValue* media = Property(d, L"MediaType");
    out << "  disk Index " << WmiIndex(d) << " drive " << (d.drive ? std::to_string(*d.drive) : "-")
        << " \"" << (media != nullptr ? sim::ToUtf8(media->text) : "(null)") << "\" " << d.style;
    for (const sim::Partition& part : d.partitions) {
      out << " [" << part.fs << " \"" << sim::ToUtf8(part.label) << "\"]";
    }
    const os::WmiValue* serial = Property(d, L"SerialNumber");
    out << " " << d.size_mb << " MiB, serial '"
        << (serial != nullptr ? sim::ToUtf8(serial->text) : "(null)") << "'"
        << (d.rst ? " rst " + d.rst->id + " " + d.rst->size + " '" + d.rst->serial + "' system " +
                        d.rst->system_disk
                  : " no rst")
        << "\n";
  }
  return out.str();
}

}  // namespace testing_support
