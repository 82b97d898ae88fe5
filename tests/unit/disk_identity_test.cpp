// The evidence the sequence needs before it changes a disk, and after the cache exists: serial
// numbers in WMI's forms, sizes in either unit, the identity proof's refusals, and the choice of
// the cache's data volume.
#include "app/disk_identity.h"

#include <gtest/gtest.h>

#include "app/data_volume.h"
#include "tests/support/records.h"

namespace {

using testing_support::Printable;

TEST(SerialNumbers, MatchInWmisFormsAndNothingElse) {
  const struct {
    const wchar_t* report;
    const wchar_t* wmi;
    bool match;
  } cases[] = {
      {L"TE85113Q0V8K3R", L"TE85113Q0V8K3R", true},
      {L"TE85113Q0V8K3R   ", L"      TE85113Q0V8K3R", true},  // padded on either side
      {L"TE85113Q0V8K3R", L"ET5811Q3V0K8R3", true},           // pairs swapped
      {L"TE85113Q0V8K3R", L"      ET5811Q3V0K8R3", true},     // swapped, padding kept
      {L"WD-WXA1", L" DWW-AX1", true},                        // odd length: the 20-byte field
      {L"TE85", L"54453835", true},                           // hex text of the bytes
      {L"TE85", L"45543538", true},                           // hex text, pairs swapped
      {L"TE85", L"2020544538352020", true},                   // hex text with padding
      {L"TE85113Q0V8K3R", L"TE85113Q0V8K3S", false},
      {L"TE85113Q0V8K3R", L"te85113q0v8k3r", false},  // letter case is part of the serial
      {L"TE85113Q0V8K3R", L"TE85113Q0V8K3R0", false},
      {L"", L"", false},  // an empty serial proves nothing
      {L"   ", L"   ", false},
      {L"SN1", L"", false},
      {L"12", L"3132", true},         // digits are hex text too: "3132" is "12"
      {L"\x01\x02", L"0102", false},  // hex only where it decodes to printable text
      {L"0102", L"0102", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SerialNumbersMatch(c.report, c.wmi), c.match)
        << "report '" << Printable(c.report) << "', WMI '" << Printable(c.wmi) << "'";
  }
}

TEST(ReportSizes, AgreeWithWmiBytesInDecimalOrBinaryGigabytes) {
  const struct {
    std::uint32_t report;
    const wchar_t* wmi;
    bool agree;
  } cases[] = {
      {465, L"500105249280", true},  // 465.76 GiB, WMI a little below the device
      {500, L"500105249280", true},  // 500.1 GB
      {466, L"500105249280", false},
      {32, L"34357094400", true},  // 32 GiB less WMI's partial cylinder
      {31, L"34357094400", true},  // 31.99 GiB read without rounding
      {34, L"34357094400", true},  // 34.36 GB
      {33, L"34357094400", false},
      {119, L"127772792832", true},
      {0, L"0", false},  // a zero proves nothing
      {0, L"1000000", false},
      {1, L"", false},
      {1, L"1e9", false},
      {1, L"-1000000000", false},
      {1, L"99999999999999999999999", false},
      {4294967295u, L"18446744073709551615", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SizesAgree(c.report, c.wmi), c.agree)
        << "report " << c.report << ", WMI " << Printable(c.wmi);
  }
}

DiskRecord Fixed(std::uint32_t index, const wchar_t* serial, const wchar_t* bytes) {
  DiskRecord d = testing_support::Disk(index, L"Fixed hard disk media");
  d.SerialNumber = serial;
  d.Size = bytes;
  return d;
}

RstDeviceRecord Device(const wchar_t* id, std::int32_t size, const wchar_t* serial,
                       std::int32_t systemDisk) {
  RstDeviceRecord r;
  r.ID = id;
  r.Size = size;
  r.SerialNumber = serial;
  r.SystemDisk = systemDisk;
  return r;
}

// The default notebook as the sequence sees it: the hard disk (system, "Recovery") and the SSD.
struct Notebook {
  DiskList disks = {Fixed(0, L"TE85113Q0V8K3R", L"500105249280"),
                    Fixed(1, L"131572400123", L"34357094400")};
  RstDeviceList devices = {Device(L"0-0-0-0", 465, L"TE85113Q0V8K3R", 1),
                           Device(L"0-1-0-0", 32, L"131572400123", 0)};
  std::wstring cache = L"0-1-0-0", accel = L"0-0-0-0";

  IdentityProof Prove() const {
    return ProveDiskIdentity(disks, disks[0], disks[1], devices, cache, accel);
  }
};

TEST(IdentityProof, HoldsOnTheLineNotebookAndNamesEveryMismatchOtherwise) {
  EXPECT_TRUE(Notebook().Prove().holds) << Printable(Notebook().Prove().mismatch);

  const struct {
    const char* name;
    void (*change)(Notebook&);
    const wchar_t* reasons;  // the text before the ids as read
  } cases[] = {
      {"empty report", [](Notebook& n) { n.devices.clear(); },
       L"no device in the storage tool's report"},
      {"the system disk as cache", [](Notebook& n) { n.devices[1].SystemDisk = 1; },
       L"cache device is a system disk"},
      {"roles swapped in the report", [](Notebook& n) { std::swap(n.cache, n.accel); },
       L"cache device is a system disk, cache device serial is not SecondHDD's, cache device size "
       L"is not SecondHDD's, disk to accelerate serial is not MasterHDD's, disk to accelerate "
       L"size is not MasterHDD's"},
      {"SSD replaced, serial differs", [](Notebook& n) { n.disks[1].SerialNumber = L"OTHER"; },
       L"cache device serial is not SecondHDD's"},
      {"a size that does not fit", [](Notebook& n) { n.devices[0].Size = 931; },
       L"disk to accelerate size is not MasterHDD's"},
      {"one device for both roles", [](Notebook& n) { n.cache = n.accel; },
       L"one device for both roles, cache device is a system disk, cache device serial is not "
       L"SecondHDD's, cache device size is not SecondHDD's"},
      {"an id listed twice", [](Notebook& n) { n.devices.push_back(n.devices[1]); },
       L"cache device not once in the report"},
      {"the serial on two disks",
       [](Notebook& n) { n.disks.push_back(Fixed(2, L"131572400123", L"1")); },
       L"cache device serial names more than one disk"},
      {"a removable second disk", [](Notebook& n) { n.disks[1].MediaType = L"Removable Media"; },
       L"a role disk is not fixed"},
      // The disk-to-accelerate side, each rule alone.
      {"the disk to accelerate missing", [](Notebook& n) { n.accel = L"0-5-0-0"; },
       L"disk to accelerate not once in the report"},
      {"the disk to accelerate listed twice",
       [](Notebook& n) { n.devices.push_back(n.devices[0]); },
       L"disk to accelerate not once in the report"},
      {"MasterHDD not fixed",
       [](Notebook& n) { n.disks[0].MediaType = L"External hard disk media"; },
       L"a role disk is not fixed"},
      {"MasterHDD's serial on two disks",
       [](Notebook& n) { n.disks.push_back(Fixed(2, L"TE85113Q0V8K3R", L"1")); },
       L"disk to accelerate serial names more than one disk"},
      {"MasterHDD replaced", [](Notebook& n) { n.disks[0].SerialNumber = L"OTHER"; },
       L"disk to accelerate serial is not MasterHDD's"},
  };
  for (const auto& c : cases) {
    Notebook n;
    c.change(n);
    const IdentityProof proof = n.Prove();
    EXPECT_FALSE(proof.holds) << c.name;
    EXPECT_EQ(proof.mismatch.substr(0, proof.mismatch.find(L": ")), c.reasons)
        << c.name << ": " << Printable(proof.mismatch);
  }
}

TEST(IdentityProof, TheMismatchShowsTheIdsDiskNumbersAndSerialsAsRead) {
  Notebook n;
  n.disks[1].SerialNumber = L"X\nY";  // a line break would split the run-log line
  EXPECT_EQ(n.Prove().mismatch,
            L"cache device serial is not SecondHDD's: cache device 0-1-0-0 serial '131572400123' "
            L"size 32, SecondHDD Disk[1] serial 'X?Y' size 34357094400; disk to accelerate "
            L"0-0-0-0 serial 'TE85113Q0V8K3R' size 465, MasterHDD Disk[0] serial 'TE85113Q0V8K3R' "
            L"size 500105249280");
}

// The inventory after the cache: the SSD gone, its remainder a new blank disk.
DiskRecord Volume(std::uint32_t index, const wchar_t* bytes) {
  DiskRecord d = Fixed(index, L"", bytes);
  d.Model = L"Intel Raid 0 Volume";
  return d;
}

TEST(DataVolume, TheOneNewFixedDiskOfTheSizeTheCacheLeaves) {
  const Notebook n;
  const DiskRecord hdd = n.disks[0];
  // 32 GiB less a 23.5 GiB cache leaves 8.5 GiB; WMI shows whole cylinders.
  const DiskRecord left = Volume(1, L"9121835520");
  auto with = [](DiskRecord d, void (*change)(DiskRecord&)) {
    change(d);
    return d;
  };
  // A disk of the volume's size that was there before the cache: only the "new" rule tells it.
  DiskRecord oldDisk = Volume(7, L"9121835520");
  oldDisk.PNPDeviceID = L"USBSTOR\\DISK&VEN_OLD";
  const struct {
    const char* name;
    DiskList after;
    const wchar_t* cacheSize;
    std::size_t found;
  } cases[] = {
      {"the line notebook", {hdd, left}, L"23.5", 1},
      {"numbered elsewhere", {hdd, Volume(5, L"9121835520")}, L"23.5", 1},
      {"decimal gigabytes", {hdd, Volume(1, L"10857094400")}, L"23.5", 1},
      {"cache rounded up to 24 GiB", {hdd, Volume(1, L"8587290624")}, L"23.5", 1},
      {"cache aligned to end at 25 GiB", {hdd, Volume(1, L"7513548800")}, L"23.5", 1},
      {"below the widest cache by more than the slack",
       {hdd, Volume(1, L"7200000000")},
       L"23.5",
       0},
      {"above the narrowest cache by more than the slack",
       {hdd, Volume(1, L"11200000000")},
       L"23.5",
       0},
      {"no data volume", {hdd}, L"23.5", 0},
      {"the SSD still seen", {hdd, n.disks[1]}, L"23.5", 0},
      {"holding a partition",
       {hdd, with(left, [](DiskRecord& d) { d.Partitions = 1; })},
       L"23.5",
       0},
      {"holding only the IntelRST partition (index 8 in the fake)",
       {hdd, with(left, [](DiskRecord& d) { d.Partitions = 1, d.Index = 8; })},
       L"23.5",
       1},
      {"not fixed",
       {hdd, with(left, [](DiskRecord& d) { d.MediaType = L"External hard disk media"; })},
       L"23.5",
       0},
      {"two of them", {hdd, left, Volume(2, L"9121835520")}, L"23.5", 2},
      {"a disk of that size there before", {hdd, oldDisk}, L"23.5", 0},
      {"under MasterHDD's number",
       {with(hdd, [](DiskRecord& d) { d.Index = 3; }), Volume(0, L"9121835520")},
       L"23.5",
       0},
      {"a disk of the Windows volume", {hdd, Volume(9, L"9121835520")}, L"23.5", 0},
      {"whole-SSD cache: any smaller new blank disk", {hdd, Volume(1, L"1000000")}, L"", 1},
      {"whole-SSD cache: none left", {hdd}, L"", 0},
      {"a cache size that is not a number", {hdd, left}, L"x", 0},
  };
  DiskList before = n.disks;
  before.push_back(oldDisk);
  for (const auto& c : cases) {
    const DataVolumeSearch search{before,     n.disks[0],
                                  n.disks[1], c.cacheSize,
                                  {0, 9},     [](const DiskRecord& d) { return d.Index == 8; }};
    const std::vector<DiskRecord> found = FindDataVolumes(search, c.after);
    EXPECT_EQ(found.size(), c.found) << c.name;
    if (c.found == 1 && found.size() == 1) {
      EXPECT_EQ(found[0].Index, c.after.back().Index) << c.name;
    }
  }
}

}  // namespace
