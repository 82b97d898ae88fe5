#include "probes/disk_inventory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "environment/run_environment.h"
#include "sim/core/text.h"
#include "sim/devices/disk_probes.h"
#include "sim/profile/profile.h"
#include "tests/support/records.h"
#include "tests/support/sim_fixture.h"

using testing_support::SimMachine;

namespace {

sim::Profile Disks(const std::string& disksJson) {
  return sim::ParseProfile("{\"disks\": " + disksJson + "}", "inventory-test.json", ".");
}

// Every member of a record, in declaration order, one per line.
std::string Describe(const DiskRecord& r) { return ::testing::PrintToString(r); }

const char* const kAllNull =
    "Reserved=0\nDescription=\nDeviceID=\nIndex=0\nInterfaceType=\nManufacturer=\n"
    "MediaLoaded=0\nMediaType=Unknown\nMinBlockSize=0\nModel=\nName=\nNeedsCleaning=0\n"
    "NumberOfMediaSupported=0\nPartitions=0\nPNPDeviceID=\nSCSIBus=0\nSCSILogicalUnit=0\n"
    "SCSIPort=0\nSCSITargetId=0\nSectorsPerTrack=0\nSerialNumber=\nSignature=0\nSize=0\n"
    "Status=\nSystemCreationClassName=\nSystemName=\nMediaKind=0\n";

const wchar_t* const kReadOrder[] = {L"Description",
                                     L"DeviceID",
                                     L"Index",
                                     L"InterfaceType",
                                     L"Manufacturer",
                                     L"MediaLoaded",
                                     L"MediaType",
                                     L"Model",
                                     L"Partitions",
                                     L"PNPDeviceID",
                                     L"SCSIBus",
                                     L"SCSILogicalUnit",
                                     L"SCSIPort",
                                     L"SCSITargetId",
                                     L"SerialNumber",
                                     L"Signature",
                                     L"Size",
                                     L"Status",
                                     L"SystemCreationClassName",
                                     L"SystemName"};

class Inventory : public ::testing::Test {
 protected:
  void SetUp() override { ResetRunEnvironment(); }
  void TearDown() override { ResetRunEnvironment(); }

  // As after the entry point: COM is up and the flag says so.
  static void ComFromEntryPoint(sim::Machine& m) {
    m.com_initialized = 1;
    g_RunEnvironment.bIsComInitialized = 1;
  }
};

TEST_F(Inventory, DefaultNotebookGivesEveryMemberAndTheMediaKinds) {
  SimMachine m(sim::DefaultProfile());
  ComFromEntryPoint(*m);
  DiskList list;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(Describe(list[0]),
            "Reserved=0\nDescription=Disk drive\nDeviceID=\\\\.\\PHYSICALDRIVE0\nIndex=0\n"
            "InterfaceType=IDE\nManufacturer=(Standard disk drives)\nMediaLoaded=-1\n"
            "MediaType=Fixed hard disk media\nMinBlockSize=0\nModel=HGST HTS545050A7E380\n"
            "Name=\nNeedsCleaning=0\nNumberOfMediaSupported=0\nPartitions=4\n"
            "PNPDeviceID=SCSI\\DISK&VEN_HGST&PROD_HTS545050A7E380\\4&1A2B3C4D&0&000000\n"
            "SCSIBus=0\nSCSILogicalUnit=0\nSCSIPort=0\nSCSITargetId=0\nSectorsPerTrack=0\n"
            "SerialNumber=TE85113Q0V8K3R\nSignature=0\nSize=500105249280\nStatus=OK\n"
            "SystemCreationClassName=Win32_ComputerSystem\nSystemName=NOTEBOOK\nMediaKind=0\n");
  EXPECT_EQ(list[1].Index, 1u);
  EXPECT_EQ(list[1].SCSIPort, 1u);
  EXPECT_EQ(list[1].Size, L"34357094400");
  EXPECT_EQ(list[1].MediaKind, 1);
  EXPECT_EQ(sim::ToUtf8(m->console()), "5400 RPM\nHDD Device\n1 RPM\nSSD Device\n");
  EXPECT_EQ(m->com_initialized, 1);
  EXPECT_EQ(m->com_live_refs, 0);
  EXPECT_EQ(m->open_handles(), 0u);
}

TEST_F(Inventory, NullPropertiesTakeTheirSubstitutes) {
  // Left out, given as null: both are null to WMI. No Index: the probe asks drive 0, which
  // does not exist here.
  SimMachine m(Disks(R"([{"wmi": {}},
                         {"wmi": {"MediaType": null, "Size": null, "SerialNumber": null,
                                  "MediaLoaded": null, "Index": null, "SCSIPort": null}}])"));
  ComFromEntryPoint(*m);
  DiskList list;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(Describe(list[0]), kAllNull);
  EXPECT_EQ(Describe(list[1]), kAllNull);
  EXPECT_EQ(sim::ToUtf8(m->console()), "CreateFile Error: 2\nCreateFile Error: 2\n");
}

TEST_F(Inventory, ValuesAreStoredAsWmiDeliversThem) {
  struct Case {
    const char* wmi;
    const char* member;  // the line of Describe() expected
  };
  const Case cases[] = {
      {R"("MediaLoaded": true)", "MediaLoaded=-1"},
      {R"("MediaLoaded": false)", "MediaLoaded=0"},
      {R"("Size": "500105249280")", "Size=500105249280"},
      {R"("Size": "18446744073709551615")", "Size=18446744073709551615"},
      {R"("Size": 32017104896)", "Size=32017104896"},
      {R"("Size": "")", "Size="},
      {R"("SCSILogicalUnit": 131074)", "SCSILogicalUnit=2"},
      {R"("SCSIPort": 65537)", "SCSIPort=1"},
      {R"("SCSITargetId": 4294967295)", "SCSITargetId=65535"},
      {R"("SCSIBus": 70000)", "SCSIBus=70000"},
      {R"("Signature": 4294967295)", "Signature=4294967295"},
      {R"("Partitions": 128)", "Partitions=128"},
      {R"("Index": 4294967295)", "Index=4294967295"},
      {R"("MediaType": "Removable Media")", "MediaType=Removable Media"},
      {R"("MediaType": "")", "MediaType="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wmi);
    SimMachine m(Disks(std::string(R"([{"drive": null, "wmi": {)") + c.wmi + "}}]"));
    ComFromEntryPoint(*m);
    DiskList list;
    ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
    ASSERT_EQ(list.size(), 1u);
    const std::string all = Describe(list[0]);
    EXPECT_THAT(all, testing::HasSubstr(std::string("\n") + c.member + "\n"));
  }
}

TEST_F(Inventory, TextEndsAtItsZeroAndValuesOfAnotherTypeCountAsNull) {
  sim::Profile p;
  sim::Disk d;
  auto add = [&](const wchar_t* name, os::WmiValue v) { d.wmi.push_back({name, v}); };
  os::WmiValue text;
  text.kind = os::WmiValue::Kind::Text;
  text.text = std::wstring(L"ST500\0junk", 10);
  add(L"Model", text);
  os::WmiValue number;
  number.kind = os::WmiValue::Kind::Int32;
  number.i32 = 5;
  add(L"Size", number);
  add(L"MediaType", number);
  os::WmiValue other;
  other.kind = os::WmiValue::Kind::Other;
  add(L"Index", other);
  os::WmiValue boolean;
  boolean.kind = os::WmiValue::Kind::Bool;
  boolean.boolean = true;
  add(L"Partitions", boolean);
  add(L"MediaLoaded", number);
  p.disks.push_back(d);
  SimMachine m(std::move(p));
  ComFromEntryPoint(*m);
  DiskList list;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Model, L"ST500");
  EXPECT_EQ(list[0].Size, L"0");
  EXPECT_EQ(list[0].MediaType, L"Unknown");
  EXPECT_EQ(list[0].Index, 0u);
  EXPECT_EQ(list[0].Partitions, 0u);
  EXPECT_EQ(list[0].MediaLoaded, 0);
}

TEST_F(Inventory, FailingGetLeavesThatMemberNull) {
  SimMachine m(sim::DefaultProfile());
  ComFromEntryPoint(*m);
  m->AddFault("Get:MediaType");
  m->AddFault("Get:Model");
  m->AddFault("Get:Index");
  DiskList list;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  ASSERT_EQ(list.size(), 2u);
  for (const DiskRecord& r : list) {
    EXPECT_EQ(r.MediaType, L"Unknown");
    EXPECT_EQ(r.Model, L"");
    EXPECT_EQ(r.Index, 0u);
    EXPECT_EQ(r.Status, L"OK");
  }
  // Both records carry drive 0's media kind: the probe follows the Index as read.
  EXPECT_EQ(list[1].MediaKind, 0);
  EXPECT_EQ(sim::ToUtf8(m->console()), "5400 RPM\nHDD Device\n5400 RPM\nHDD Device\n");
}

TEST_F(Inventory, RecordsFollowWmiOrderNotIndexOrder) {
  SimMachine m(Disks(R"([{"wmi": {"Index": 2, "Model": "third"}, "rotation": 7200},
                         {"wmi": {"Index": 0, "Model": "first"}, "rotation": 1},
                         {"wmi": {"Index": 1, "Model": "second"}, "rotation": "identify-fails"}])"));
  ComFromEntryPoint(*m);
  DiskList list;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Model, L"third");
  EXPECT_EQ(list[0].Index, 2u);
  EXPECT_EQ(list[0].MediaKind, 0);
  EXPECT_EQ(list[1].Model, L"first");
  EXPECT_EQ(list[1].MediaKind, 1);
  EXPECT_EQ(list[2].Model, L"second");
  EXPECT_EQ(list[2].MediaKind, -1);
  EXPECT_EQ(sim::ToUtf8(m->console()),
            "7200 RPM\nHDD Device\n1 RPM\nSSD Device\nSMART_RCV_DRIVE_DATA Error: 1117\n");
}

TEST_F(Inventory, StepsRunInOrderAndEachDiskIsProbedBeforeTheNextIsFetched) {
  SimMachine m(Disks(R"([{"wmi": {"Index": 1}, "rotation": 1},
                         {"wmi": {"Index": 0}, "rotation": 5400}])"));
  ComFromEntryPoint(*m);
  DiskList list;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  std::vector<std::wstring> expected = {L"CoCreateInstance", L"ConnectServer ROOT\\CIMV2",
                                        L"CoSetProxyBlanket 10 0 3 3 0",
                                        L"ExecQuery WQL SELECT * FROM Win32_DiskDrive 0x30"};
  for (const wchar_t* drive : {L"1", L"0"}) {
    expected.push_back(L"Next -1");
    for (const wchar_t* name : kReadOrder) expected.push_back(std::wstring(L"Get ") + name);
    expected.push_back(std::wstring(L"SMART_GET_VERSION ") + drive);
    expected.push_back(std::wstring(L"SMART_RCV_DRIVE_DATA ") + drive);
    expected.push_back(L"Release IWbemClassObject");
  }
  expected.push_back(L"Next -1");
  expected.push_back(L"Release IWbemServices");
  expected.push_back(L"Release IWbemLocator");
  expected.push_back(L"Release IEnumWbemClassObject");
  EXPECT_EQ(sim::DiskProbes(*m).trace, expected);
  // The list the machine capture records is the one the inventory reads.
  EXPECT_EQ(std::vector<std::wstring>(std::begin(kDiskInventoryProperties),
                                      std::end(kDiskInventoryProperties)),
            std::vector<std::wstring>(std::begin(kReadOrder), std::end(kReadOrder)));
}

TEST_F(Inventory, NoDisksGivesTrueAndAnEmptyList) {
  SimMachine m;
  ComFromEntryPoint(*m);
  DiskList list;
  EXPECT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  EXPECT_THAT(list, testing::IsEmpty());
  EXPECT_EQ(m->console(), L"");
  EXPECT_EQ(m->com_live_refs, 0);
  EXPECT_EQ(m->com_refs_acquired, 3);
  EXPECT_EQ(m->com_initialized, 1);
}

TEST_F(Inventory, ListIsAppendedToNotCleared) {
  SimMachine m(sim::DefaultProfile());
  ComFromEntryPoint(*m);
  DiskList list(1);
  list[0].Model = L"earlier";
  list[0].Index = 7;
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Model, L"earlier");
  EXPECT_EQ(list[0].Index, 7u);
  EXPECT_EQ(list[1].Index, 0u);
  EXPECT_EQ(list[2].Index, 1u);
}

struct FailureRow {
  const char* fault;  // nullptr: none
  bool comFromEntryPoint;
  bool result;
  std::vector<std::wstring> releases;
};

TEST_F(Inventory, EachFailingStepReturnsReleasesWhatItHeldAndLeavesComAsFound) {
  const std::vector<std::wstring> fullRun = {L"IWbemClassObject", L"IWbemClassObject",
                                             L"IWbemServices", L"IWbemLocator",
                                             L"IEnumWbemClassObject"};
  const std::vector<std::wstring> servicesAndLocator = {L"IWbemServices", L"IWbemLocator"};
  const FailureRow rows[] = {
      {"CoInitializeEx", false, false, {}},
      {"CoInitializeSecurity", false, false, {}},
      {"CoCreateInstance", false, false, {}},
      {"ConnectServer", false, false, {L"IWbemLocator"}},
      {"CoSetProxyBlanket", false, false, servicesAndLocator},
      {"ExecQuery", false, false, servicesAndLocator},
      {nullptr, false, true, fullRun},
      // With COM from the entry point the query neither starts nor ends it.
      {"CoInitializeEx", true, true, fullRun},
      {"CoInitializeSecurity", true, true, fullRun},
      {"CoCreateInstance", true, false, {}},
      {"ConnectServer", true, false, {L"IWbemLocator"}},
      {"CoSetProxyBlanket", true, false, servicesAndLocator},
      {"ExecQuery", true, false, servicesAndLocator},
      {nullptr, true, true, fullRun},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(std::string(row.fault != nullptr ? row.fault : "no fault") +
                 (row.comFromEntryPoint ? ", COM from the entry point" : ", COM started here"));
    ResetRunEnvironment();
    SimMachine m(sim::DefaultProfile());
    if (row.comFromEntryPoint) ComFromEntryPoint(*m);
    if (row.fault != nullptr) m->AddFault(row.fault);
    const int comBefore = m->com_initialized;
    DiskList list;
    EXPECT_EQ(QueryDiskInventory(&list), row.result);
    EXPECT_EQ(list.size(), row.result ? 2u : 0u);
    const sim::DiskProbeState& probes = sim::DiskProbes(*m);
    EXPECT_EQ(probes.releases, row.releases);
    EXPECT_EQ(m->com_live_refs, 0);
    EXPECT_EQ(m->com_refs_acquired, static_cast<int>(row.releases.size()));
    EXPECT_EQ(probes.releases_without_com, 0);
    EXPECT_EQ(m->com_initialized, comBefore);
    // Security is never set up over the entry point's COM, and goes when the query's ends.
    EXPECT_EQ(m->com_security_calls, 0);
  }
}

TEST_F(Inventory, QueryStartsComItselfOnlyWhenTheFlagIsClear) {
  SimMachine m(sim::DefaultProfile());
  DiskList list;
  // The flag clear: the query joins COM, sets up security and ends COM again.
  ASSERT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
  EXPECT_EQ(m->com_initialized, 0);
  EXPECT_EQ(m->com_security_calls, 0);  // COM ended: security goes with it
  EXPECT_EQ(list.size(), 2u);
  // The flag set but COM not up: the query does not start it, and the locator cannot be made.
  g_RunEnvironment.bIsComInitialized = 1;
  list.clear();
  EXPECT_FALSE(QueryDiskInventory(&list)) << list.size() << " disks read";
  EXPECT_EQ(m->com_initialized, 0);
  EXPECT_EQ(m->com_refs_acquired, 5);  // only the first run's
}

TEST_F(Inventory, FailingNextEndsTheListWithTheDisksReadSoFar) {
  const char* const threeDisks = R"([{"wmi": {"Index": 0, "Model": "a"}, "rotation": 1},
                                     {"wmi": {"Index": 1, "Model": "b"}, "rotation": 1},
                                     {"wmi": {"Index": 2, "Model": "c"}, "rotation": 1}])";
  for (int failing : {1, 2, 3, 4}) {
    SCOPED_TRACE(failing);
    SimMachine m(Disks(threeDisks));
    ComFromEntryPoint(*m);
    m->AddFault("Next:" + std::to_string(failing));
    DiskList list;
    EXPECT_TRUE(QueryDiskInventory(&list)) << list.size() << " disks read";
    const std::size_t read = static_cast<std::size_t>(failing - 1 < 3 ? failing - 1 : 3);
    ASSERT_EQ(list.size(), read);
    for (std::size_t i = 0; i < read; ++i) EXPECT_EQ(list[i].Index, i);
    EXPECT_EQ(m->com_live_refs, 0);
    const auto& releases = sim::DiskProbes(*m).releases;
    ASSERT_GE(releases.size(), 3u);
    EXPECT_EQ(
        std::vector<std::wstring>(releases.end() - 3, releases.end()),
        (std::vector<std::wstring>{L"IWbemServices", L"IWbemLocator", L"IEnumWbemClassObject"}));
    // The probes ran for exactly the disks read.
    std::wstring expectedOut;
    for (std::size_t i = 0; i < read; ++i) expectedOut += L"1 RPM\nSSD Device\n";
    EXPECT_EQ(m->console(), expectedOut);
  }
}

}  // namespace
