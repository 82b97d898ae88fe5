#include "app/disk_roles.h"

#include <gtest/gtest.h>

#include "sim/core/text.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"
#include "textout/format.h"

namespace {

using testing_support::FileBytes;
using testing_support::SimMachine;

const std::wstring kFixed = L"Fixed hard disk media";
const std::wstring kLog = L"C:\\Windows\\Temp\\TempProc.log";

DiskRecord Disk(std::uint32_t index, const std::wstring& mediaType) {
  DiskRecord d;
  d.Index = index;
  d.MediaType = mediaType;
  d.Model = L"Model " + std::to_wstring(index);
  return d;
}

TEST(FixedDisk, OnlyTheExactMediaTextCounts) {
  const struct {
    std::wstring media;
    bool fixed;
  } cases[] = {
      {L"Fixed hard disk media", true},
      {L"Fixed hard disk media ", false},
      {L" Fixed hard disk media", false},
      {L"fixed hard disk media", false},
      {L"FIXED HARD DISK MEDIA", false},
      {L"Fixed hard disk", false},
      {L"Fixed hard disk medi", false},
      {L"Fixed hard disk media2", false},
      {L"External hard disk media", false},
      {L"Removable Media", false},
      {L"Removable media other than floppy", false},
      {std::wstring(L"Fixed hard disk media\0", 22), false},
      {L"", false},
  };
  DiskList all;
  int expectedCount = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.media) + "|");
    EXPECT_EQ(IsFixedDisk(Disk(0, c.media)), c.fixed);
    all.push_back(Disk(0, c.media));
    expectedCount += c.fixed ? 1 : 0;
  }
  EXPECT_EQ(CountFixedDisks(all), expectedCount);
  EXPECT_EQ(CountFixedDisks({}), 0);
  EXPECT_EQ(CountFixedDisks({Disk(0, kFixed), Disk(1, L"Removable Media"), Disk(2, kFixed)}), 2);
}

// The run-log lines without their time stamps.
std::string LogLines(sim::Machine& m) {
  std::string out;
  for (const std::string& line : testing_support::CrLfLines(FileBytes(m, kLog))) {
    const std::size_t tab = line.find('\t');
    out += (tab == std::string::npos ? line : line.substr(tab + 1)) + "\n";
  }
  return out;
}

struct RoleCase {
  const char* name;
  DiskList disks;
  std::int32_t recovery;
  bool masterAssigned;
  std::uint32_t masterIndex;  // 77: MasterHDD stays as created
  std::uint32_t secondIndex;  // 77: SecondHDD stays as created
  std::string log;
};

TEST(AssignDiskRoles, RoleOrdersAndTheirLogLines) {
  const RoleCase cases[] = {
      {"recovery disk first",
       {Disk(0, kFixed), Disk(1, kFixed)},
       0,
       true,
       0,
       1,
       "Get MasterHDD info, DiskIndex = 0\nGet SecondHDD info, DiskIndex = 1\n"},
      {"second disk first, recovery disk second",
       {Disk(1, kFixed), Disk(0, kFixed)},
       0,
       true,
       0,
       1,
       "Get SecondHDD info, DiskIndex = 1\nGet MasterHDD info, DiskIndex = 0\n"},
      {"recovery on a non-fixed disk: both second, the later keeps the role",
       {Disk(0, kFixed), Disk(1, kFixed), Disk(2, L"External hard disk media")},
       2,
       false,
       77,
       1,
       "Get SecondHDD info, DiskIndex = 0\nGet SecondHDD info, DiskIndex = 1\n"},
      {"non-fixed disks are skipped without a line",
       {Disk(3, L"Removable Media"), Disk(0, kFixed), Disk(4, L"fixed hard disk media"),
        Disk(1, kFixed)},
       1,
       true,
       1,
       0,
       "Get SecondHDD info, DiskIndex = 0\nGet MasterHDD info, DiskIndex = 1\n"},
      {"two disks with the recovery index: the first is master",
       {Disk(5, kFixed), Disk(5, kFixed)},
       5,
       true,
       5,
       5,
       "Get MasterHDD info, DiskIndex = 5\nGet SecondHDD info, DiskIndex = 5\n"},
      {"three fixed disks: the last of the others is second",
       {Disk(2, kFixed), Disk(0, kFixed), Disk(1, kFixed)},
       0,
       true,
       0,
       1,
       "Get SecondHDD info, DiskIndex = 2\nGet MasterHDD info, DiskIndex = 0\n"
       "Get SecondHDD info, DiskIndex = 1\n"},
      {"a single fixed disk holding recovery",
       {Disk(0, kFixed)},
       0,
       true,
       0,
       77,
       "Get MasterHDD info, DiskIndex = 0\n"},
      {"no disks", {}, 0, false, 77, 77, ""},
      {"a negative recovery number matches no disk",
       {Disk(0, kFixed)},
       -1,
       false,
       77,
       0,
       "Get SecondHDD info, DiskIndex = 0\n"},
  };
  for (const RoleCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    LogWriter runLog;
    runLog.Open(kLog);
    DiskRecord master, second;
    master.Index = second.Index = 77;
    EXPECT_EQ(AssignDiskRoles(c.disks, c.recovery, master, second, runLog), c.masterAssigned);
    EXPECT_EQ(master.Index, c.masterIndex);
    EXPECT_EQ(second.Index, c.secondIndex);
    EXPECT_EQ(LogLines(*m), c.log);
  }
}

TEST(AssignDiskRoles, CopiesExactlyTheRoleFields) {
  SimMachine m;
  LogWriter runLog;
  runLog.Open(kLog);
  DiskRecord source;
  source.Reserved = 9;
  source.Description = L"Disk drive";
  source.DeviceID = L"\\\\.\\PHYSICALDRIVE3";
  source.Index = 3;
  source.InterfaceType = L"IDE";
  source.Manufacturer = L"(Standard disk drives)";
  source.MediaLoaded = -1;
  source.MediaType = kFixed;
  source.MinBlockSize = 512;
  source.Model = L"HDD";
  source.Name = L"\\\\.\\PHYSICALDRIVE3";
  source.NeedsCleaning = 1;
  source.NumberOfMediaSupported = 2;
  source.Partitions = 4;
  source.PNPDeviceID = L"SCSI\\DISK";
  source.SCSIBus = 1;
  source.SCSILogicalUnit = 2;
  source.SCSIPort = 3;
  source.SCSITargetId = 4;
  source.SectorsPerTrack = 63;
  source.SerialNumber = L"SN";
  source.Signature = 0x1234;
  source.Size = L"500105249280";
  source.Status = L"OK";
  source.SystemCreationClassName = L"Win32_ComputerSystem";
  source.SystemName = L"NOTEBOOK";
  source.MediaKind = 2;

  for (bool asMaster : {true, false}) {
    SCOPED_TRACE(asMaster ? "MasterHDD" : "SecondHDD");
    DiskRecord master, second;
    AssignDiskRoles({source}, asMaster ? 3 : 0, master, second, runLog);
    const DiskRecord& r = asMaster ? master : second;
    const DiskRecord& untouched = asMaster ? second : master;
    EXPECT_EQ(r.Index, 3u);
    EXPECT_EQ(r.InterfaceType, L"IDE");
    EXPECT_EQ(r.MediaLoaded, -1);
    EXPECT_EQ(r.MediaType, kFixed);
    EXPECT_EQ(r.Model, L"HDD");
    EXPECT_EQ(r.Name, L"\\\\.\\PHYSICALDRIVE3");
    EXPECT_EQ(r.Partitions, 4u);
    EXPECT_EQ(r.PNPDeviceID, L"SCSI\\DISK");
    EXPECT_EQ(r.SerialNumber, L"SN");
    EXPECT_EQ(r.Size, L"500105249280");
    EXPECT_EQ(r.MediaKind, 2);
    // Everything else keeps the value the record was created with.
    const DiskRecord created;
    EXPECT_EQ(r.Reserved, created.Reserved);
    EXPECT_EQ(r.Description, created.Description);
    EXPECT_EQ(r.DeviceID, created.DeviceID);
    EXPECT_EQ(r.Manufacturer, created.Manufacturer);
    EXPECT_EQ(r.MinBlockSize, created.MinBlockSize);
    EXPECT_EQ(r.NeedsCleaning, created.NeedsCleaning);
    EXPECT_EQ(r.NumberOfMediaSupported, created.NumberOfMediaSupported);
    EXPECT_EQ(r.SCSIBus, created.SCSIBus);
    EXPECT_EQ(r.SCSILogicalUnit, created.SCSILogicalUnit);
    EXPECT_EQ(r.SCSIPort, created.SCSIPort);
    EXPECT_EQ(r.SCSITargetId, created.SCSITargetId);
    EXPECT_EQ(r.SectorsPerTrack, created.SectorsPerTrack);
    EXPECT_EQ(r.Signature, created.Signature);
    EXPECT_EQ(r.Status, created.Status);
    EXPECT_EQ(r.SystemCreationClassName, created.SystemCreationClassName);
    EXPECT_EQ(r.SystemName, created.SystemName);
    EXPECT_EQ(untouched.Model, L"");
  }
}

RstDeviceRecord Device(const std::wstring& id, std::int32_t size) {
  RstDeviceRecord r;
  r.ID = id;
  r.Size = size;
  return r;
}

TEST(DeviceSelection, CacheDeviceAndDiskToAccelerate) {
  const struct {
    const char* name;
    RstDeviceList devices;
    std::wstring cache;
    std::uint32_t smallest;
    std::wstring accelerate;
  } cases[] = {
      {"empty list keeps the defaults", {}, L"0-1-0-0", 999999, L"0-0-0-0"},
      {"hard disk and solid-state disk",
       {Device(L"0-0-0-0", 465), Device(L"0-1-0-0", 29)},
       L"0-1-0-0",
       29,
       L"0-0-0-0"},
      {"report order reversed",
       {Device(L"0-1-0-0", 29), Device(L"0-0-0-0", 465)},
       L"0-1-0-0",
       29,
       L"0-0-0-0"},
      {"equal sizes: the first is both", {Device(L"a", 100), Device(L"b", 100)}, L"a", 100, L"a"},
      {"a single device is both", {Device(L"only", 500)}, L"only", 500, L"only"},
      {"size 999999 is never the cache device",
       {Device(L"big", 999999)},
       L"0-1-0-0",
       999999,
       L"big"},
      {"size 999998 is", {Device(L"big", 999998)}, L"big", 999998, L"big"},
      {"size 0 is never the disk to accelerate", {Device(L"zero", 0)}, L"zero", 0, L"0-0-0-0"},
      {"a negative size compares as a huge unsigned one",
       {Device(L"neg", -1), Device(L"small", 10)},
       L"small",
       10,
       L"neg"},
      {"the first of equal smallest and of equal largest",
       {Device(L"s1", 5), Device(L"l1", 50), Device(L"s2", 5), Device(L"l2", 50)},
       L"s1",
       5,
       L"l1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint32_t smallest = 12345;
    EXPECT_EQ(SelectCacheDevice(c.devices, &smallest), c.cache);
    EXPECT_EQ(smallest, c.smallest);
    EXPECT_EQ(SelectDiskToAccelerate(c.devices), c.accelerate);
  }
}

TEST(CacheSize, WorkedValues) {
  const struct {
    std::uint32_t smallest;
    std::uint32_t memoryMB;
    int is64;
    const wchar_t* printed;
  } cases[] = {
      {64, 8192, 1, L"55.5"},
      {32, 8192, 1, L"23.5"},
      {24, 8192, 1, L"18.6"},
      {30, 4999, 1, L"25.5"},
      {30, 5000, 1, L"24.5"},
      {29, 4095, 1, L"24.5"},
      {128, 12288, 1, L"115.5"},
      {999999, 2048, 1, L"999994.5"},
      {30, 4096, 1, L"25.5"},  // 4096 / 1000 = 4 by whole division
      {30, 0, 1, L"25.5"},     // a failed memory query uses the 4.0 term
      {0, 8192, 1, L"18.6"},
      {23, 4000, 1, L"18.6"},
      {4294967295u, 4294967295u, 1, L"4290672327.5"},
      {64, 8192, 0, L"18.6"},  // 32-bit Windows, whatever the sizes
      {999999, 2048, 0, L"18.6"},
      {0, 0, 0, L"18.6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.smallest << " " << c.memoryMB << " " << c.is64);
    EXPECT_EQ(FormatCacheSize(ComputeCacheSize(c.smallest, c.memoryMB, c.is64)), c.printed);
  }
  EXPECT_DOUBLE_EQ(ComputeCacheSize(32, 8192, 1), 23.5);
  EXPECT_DOUBLE_EQ(ComputeCacheSize(24, 8192, 1), 18.6);
}

TEST(CacheSize, FromTheDefaultSelectionOfAnEmptyList) {
  std::uint32_t smallest = 0;
  SelectCacheDevice({}, &smallest);
  EXPECT_EQ(FormatCacheSize(ComputeCacheSize(smallest, 2048, 1)), L"999994.5");
}

}  // namespace
