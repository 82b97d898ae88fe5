// Disk roles against the simulated notebook, whose file system takes the run log they write.
#include "app/disk_roles.h"

#include <gtest/gtest.h>

#include "tests/support/records.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"
#include "textout/log_writer.h"

namespace {

using testing_support::Disk;
using testing_support::FileBytes;
using testing_support::SimMachine;

const std::wstring kFixed = L"Fixed hard disk media";
const std::wstring kLog = L"C:\\Windows\\Temp\\TempProc.log";

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

}  // namespace
