// The disk-safety property's random machines: each one built in code from one seed, with disks
// of random media types, sizes, WMI indices and drive numbers (each given once, as Windows
// numbers disks), serial-number forms, "Recovery" and Windows (its C: and EFI system partition)
// on no disk, one disk or two, now and then Windows, an EFI system or a recovery partition on the
// smaller disk, rotation rates, random firmware flags, memory, bitness, storage-tool reports
// (the system-disk flag now and then wrong or missing) and a few failing steps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sim/core/profile_model.h"
#include "sim/core/text.h"
#include "sim/harness/run.h"
#include "tests/support/wmi_values.h"

namespace testing_support {

inline constexpr wchar_t kFixed[] = L"Fixed hard disk media";

// The number in environment variable `name`, `fallback` when it is unset or empty.
inline std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::strtoull(text, nullptr, 10);
}

// What the generator decided, kept next to the profile so the expectations need no product code.
struct Machine {
  sim::Profile profile;
  std::wstring commandLine;
  std::vector<int> layoutFaults;  // drive numbers whose layout query fails
};

inline Machine RandomMachine(std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
  auto chance = [&rng](int percent) { return static_cast<int>(rng() % 100) < percent; };

  Machine m;
  sim::Profile& p = m.profile;
  p.windows_bits = chance(70) ? 64 : 32;
  p.installer = chance(30);
  p.storage_tool = chance(90);
  p.memory_kb.reset();
  if (chance(90)) {
    const std::uint64_t mb[] = {1024, 2048, 4095, 4096, 4097, 6144, 8192, 16384, 32768, 65536};
    p.memory_kb = mb[pick(10)] * 1024 + (chance(20) ? static_cast<std::uint64_t>(pick(1024)) : 0);
  }
  if (chance(8)) {
    p.firmware.reset();
  } else {
    // Mostly the flags that open the gate, so that the branch behind it is well exercised.
    p.firmware = sim::Firmware{chance(70), chance(20), chance(80), chance(50)};
  }

  const wchar_t* const media[] = {kFixed,
                                  kFixed,
                                  kFixed,
                                  L"Removable Media",
                                  L"External hard disk media",
                                  L"fixed hard disk media",
                                  L"Fixed hard disk media "};
  const char* const styles[] = {"gpt", "mbr"};
  const char* const fileSystems[] = {"ntfs", "ntfs", "fat32", "bitlocker", "raw"};
  const wchar_t* const otherLabels[] = {L"", L"Windows", L"Data", L"Recover", L"Recovery2"};
  const wchar_t* const recoveryLabels[] = {L"Recovery", L"RECOVERY", L"recovery"};
  // Sizes of notebook disks in MiB: SSDs of 16 to 119 GiB and hard disks of 233 GiB to 1 TB, in
  // no fixed order, so the SSD is now and then the larger disk.
  const std::uint64_t diskSizes[] = {16384, 24576, 32768, 61057, 122104, 238475, 476940, 953869};

  // Half the machines are near the production notebook (two disks, fixed, numbered in order,
  // the flags that open the gate, sizes the storage tool reports truly), so that the branch
  // behind the gate is well exercised; the other half are anything.
  const bool notebook = chance(50);
  if (notebook && p.firmware && chance(80)) {
    p.firmware->RAID0 = false;
    p.firmware->ISRT = true;
  }
  const int disks = notebook ? (chance(85) ? 2 : 1 + 2 * pick(2)) : pick(5);  // 0-4
  // Which disks hold a "Recovery" partition: none, one, or now and then two. Windows stands
  // mostly beside "Recovery", now and then on another disk.
  const int recoveryOn = disks == 0 || chance(notebook ? 5 : 15) ? -1 : pick(disks);
  const int secondRecovery = disks > 1 && chance(5) ? pick(disks) : -1;
  const int windowsOn = !notebook || disks == 0         ? -1
                        : chance(90) && recoveryOn >= 0 ? recoveryOn
                                                        : pick(disks);
  // Now and then, on a notebook, Windows (0), an EFI system partition (1) or a recovery partition
  // (2) on the disk without "Recovery", where cleaning it would wipe what the notebook runs or
  // boots from.
  const int hostileOn = notebook && disks >= 2 && recoveryOn >= 0 && chance(12)
                            ? (recoveryOn + 1 + pick(disks - 1)) % disks
                            : -1;
  const int hostileKind = pick(3);
  const int windowsDisk = hostileOn >= 0 && hostileKind == 0 ? hostileOn : windowsOn;
  std::set<int> indices, drives;  // Windows numbers each disk once
  for (int i = 0; i < disks; ++i) {
    sim::Disk d;
    // Indices follow the enumeration order mostly; sometimes they skip or come out of order.
    int index = chance(notebook ? 95 : 75) ? i : pick(5);
    while (!indices.insert(index).second) index = pick(8);
    d.wmi.push_back(WmiInt(L"Index", index));
    if (!chance(notebook ? 1 : 5)) {
      d.wmi.push_back(WmiText(L"MediaType", notebook && chance(90) ? kFixed : media[pick(7)]));
    }
    d.wmi.push_back(WmiText(L"Model", L"Disk " + std::to_wstring(i)));
    if (chance(notebook ? 98 : 85)) {
      int drive = chance(notebook ? 98 : 90) ? index : pick(5);
      while (!drives.insert(drive).second) drive = pick(8);
      d.drive = drive;
    }
    // On a notebook the disk with "Recovery" spins and the other mostly does not; IDENTIFY may
    // give a rate, 1 (solid state), nothing, or a reserved value.
    const std::uint16_t rates[] = {1, 1, 5400, 7200, 0, 0xFFFF, 0x0400, 0x0401};
    d.rotation.rate = !notebook         ? rates[pick(8)]
                      : i == recoveryOn ? 5400
                      : chance(88)      ? 1
                                        : rates[2 + pick(6)];
    d.style = styles[pick(2)];
    d.size_mb = 2;
    const int partitions = pick(3);
    const bool recovery = i == recoveryOn || i == secondRecovery;
    const int recoveryAt = recovery ? pick(partitions + 1) : -1;
    for (int k = 0; k <= partitions; ++k) {
      if (k == partitions && k != recoveryAt) break;
      sim::Partition part;
      if (k == recoveryAt) {
        part.fs = chance(80) ? "ntfs" : "fat32";
        part.label = recoveryLabels[pick(3)];
      } else {
        part.fs = fileSystems[pick(5)];
        part.label = otherLabels[pick(5)];
      }
      part.size_mb = 1;
      d.partitions.push_back(part);
      d.size_mb += part.size_mb;
    }
    // What Windows runs and boots from: its volume C: beside the EFI system partition, and a
    // recovery partition by type (labelled otherwise), on the disk hostileOn names.
    const bool gpt = d.style == "gpt";
    if (i == windowsDisk || (i == hostileOn && hostileKind == 1)) {
      d.partitions.push_back(sim::Partition{"fat32", L"SYSTEM", 1, 0,
                                            gpt ? "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" : "0xEF"});
      d.size_mb += 1;
    }
    if (i == hostileOn && hostileKind == 2) {
      d.partitions.push_back(sim::Partition{"ntfs", L"Tools", 1, 0,
                                            gpt ? "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC" : "0x27"});
      d.size_mb += 1;
    }
    if (i == windowsDisk) {
      d.partitions.push_back(sim::Partition{"ntfs", L"Windows", 1, L'C', ""});
      d.size_mb += 1;
    }
    // On a notebook the disk with "Recovery" is mostly a hard disk (the larger sizes) and the
    // other an SSD (the smaller ones); now and then any size, so the SSD may be the larger.
    if (notebook && chance(90)) {
      d.size_mb =
          chance(90) ? diskSizes[i == recoveryOn ? 5 + pick(3) : pick(5)] : diskSizes[pick(8)];
    } else if (!notebook && chance(30)) {
      d.size_mb = 32768;
    }
    // WMI counts whole cylinders (255 heads, 63 sectors of 512 bytes), or the bytes themselves.
    const std::uint64_t bytes = d.size_mb << 20;
    const std::uint64_t cylinder = 255ull * 63 * 512;
    d.wmi.push_back(
        WmiText(L"Size", std::to_wstring(chance(50) ? bytes / cylinder * cylinder : bytes)));
    // WMI gives the serial number padded, with each pair of characters swapped (before Windows
    // 8), as hex text of those bytes, or not at all; the tool as it is.
    const std::string serial = "SN" + std::to_string(i) + "X" + std::to_string(pick(1000));
    std::string field = std::string(20 - serial.size(), ' ') + serial;
    std::string wmiSerial = serial;
    switch (pick(6)) {
      case 0:
        wmiSerial = field;
        break;
      case 1:
        for (std::size_t k = 0; k + 1 < field.size(); k += 2) std::swap(field[k], field[k + 1]);
        wmiSerial = field;
        break;
      case 2: {
        static const char kHex[] = "0123456789ABCDEF";
        wmiSerial.clear();
        for (unsigned char c : field) {
          wmiSerial.push_back(kHex[c >> 4]);
          wmiSerial.push_back(kHex[c & 15]);
        }
        break;
      }
      case 3:
        if (chance(notebook ? 5 : 30)) wmiSerial.clear();
        break;
      default:
        break;
    }
    if (!wmiSerial.empty()) d.wmi.push_back(WmiText(L"SerialNumber", sim::FromUtf8(wmiSerial)));
    if (chance(notebook ? 97 : 85)) {
      sim::RstView v;
      v.id = "0-" + std::to_string(i) + "-0-0";
      v.type = "Disk";
      v.disk_type = "SATA";
      v.state = "Normal";
      const char* const sizes[] = {"465.76 GB", "29.82 GB",  "32.00 GB", "14.91 GB",
                                   "0 GB",      "999999 GB", "-5 GB",    "garbage"};
      char truly[32];
      std::snprintf(truly, sizeof(truly), "%.2f GB", static_cast<double>(d.size_mb) / 1024);
      v.size = chance(notebook ? 95 : 40) ? std::string(truly) : std::string(sizes[pick(8)]);
      v.free_size = "0 GB";
      // The tool lists the disk holding Windows as the system disk, and the disk Windows came
      // with holds Recovery; any other disk may say either.
      // Now and then the flag is wrong or missing, as a tool's report may have it.
      bool system = recovery;
      for (const sim::Partition& part : d.partitions) system |= part.label == L"Windows";
      v.system_disk = system || chance(notebook ? 5 : 50) ? "True" : "False";
      if (i == hostileOn || chance(3)) {
        const char* const flags[] = {"True", "False", ""};
        v.system_disk = flags[pick(3)];
      }
      v.usage = "Available";
      v.serial = chance(notebook ? 98 : 90) ? serial : "SN" + std::to_string(pick(disks + 1));
      v.model = "Model " + std::to_string(i);
      d.rst = v;
    }
    p.disks.push_back(d);
  }
  if (chance(5) && disks > 0) {
    const int drive = pick(disks);
    p.faults.push_back("DriveLayout:" + std::to_string(drive));
    m.layoutFaults.push_back(drive);
  }
  if (chance(3)) p.faults.push_back("ExecQuery");
  if (chance(3)) p.faults.push_back("GetPhysicallyInstalledSystemMemory");
  if (chance(3)) p.faults.push_back("GetLogicalDriveStringsW");
  const std::vector<std::string> lines[] = {
      {}, {}, {"ENHANCED"}, {"maximized"}, {"/x", "Enhanced"}};
  p.arguments = lines[pick(5)];
  m.commandLine = sim::JoinCommandLine(p.arguments);
  return m;
}

}  // namespace testing_support
