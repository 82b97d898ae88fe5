// The recovery disk locator against simulated notebooks whose disks the simulator lays out.
#include "probes/recovery_locator.h"

#include <gtest/gtest.h>

#include "sim/disks/partition_table.h"
#include "sim/profile/profile.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::DisksProfile;
using testing_support::LaidOutDisk;
using testing_support::Locate;
using testing_support::Part;
using testing_support::SimMachine;

TEST(RecoveryLocator, DefaultNotebookFindsTheRecoveryPartitionAndItsDriveLetter) {
  SimMachine m(sim::DefaultProfile());
  const auto l = Locate();
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.disk, 0);
  EXPECT_EQ(l.partition, 4);
  EXPECT_EQ(l.root, L"D:\\");
  EXPECT_EQ(m->open_handles(), 0u) << "every handle is closed again";
}

struct LocateCase {
  const char* name;
  std::vector<sim::Disk> disks;
  std::int32_t result, disk, partition;
  std::wstring root;
};

class LocateTable : public ::testing::TestWithParam<LocateCase> {};

TEST_P(LocateTable, GivesTheDriveThePartitionAndTheRoot) {
  const LocateCase& c = GetParam();
  SimMachine m(DisksProfile(c.disks));
  const auto l = Locate();
  EXPECT_EQ(l.result, c.result);
  EXPECT_EQ(l.disk, c.disk);
  EXPECT_EQ(l.partition, c.partition);
  EXPECT_EQ(l.root, c.root);
  EXPECT_EQ(m->open_handles(), 0u);
}

std::vector<sim::Disk> TenDrivesRecoveryOnTen() {
  std::vector<sim::Disk> disks;
  for (int n = 0; n <= 10; ++n) {
    disks.push_back(LaidOutDisk(n, "gpt", {Part("ntfs", n == 10 ? L"Recovery" : L"Data", 1)}));
  }
  return disks;
}

std::vector<sim::Disk> TwentySixLetters() {
  std::vector<sim::Partition> parts;
  for (wchar_t c = L'A'; c <= L'Z'; ++c) {
    parts.push_back(Part("ntfs", c == L'Z' ? L"Recovery" : std::wstring(1, c), 1, c));
  }
  return {LaidOutDisk(0, "gpt", parts)};
}

INSTANTIATE_TEST_SUITE_P(
    Disks, LocateTable,
    ::testing::Values(
        LocateCase{"NoDrives", {}, 4, 0, 0, L"<unset>"},
        LocateCase{"NoLetter",
                   {LaidOutDisk(0, "gpt", {Part("ntfs", L"Windows", 2, L'C'),
                                           Part("ntfs", L"Recovery", 2)})},
                   0, 0, 2, L""},
        LocateCase{"Fat32UpperCase",
                   {LaidOutDisk(0, "mbr", {Part("fat32", L"RECOVERY", 2, L'E')})}, 0, 0, 1,
                   L"E:\\"},
        LocateCase{"NtfsLowerCase",
                   {LaidOutDisk(0, "gpt", {Part("raw", L"", 1), Part("ntfs", L"recovery", 2, L'R')})},
                   0, 0, 2, L"R:\\"},
        LocateCase{"NearlyRecovery",
                   {LaidOutDisk(0, "gpt", {Part("ntfs", L"Recovery ", 1), Part("ntfs", L"Recover", 1),
                                           Part("fat32", L"RECOVERY1", 1)})},
                   4, 0, 0, L"<unset>"},
        LocateCase{"LowerDriveWins",
                   {LaidOutDisk(1, "gpt", {Part("ntfs", L"Recovery", 1, L'F')}),
                    LaidOutDisk(0, "gpt", {Part("ntfs", L"Data", 1), Part("ntfs", L"Recovery", 1, L'E')})},
                   0, 0, 2, L"E:\\"},
        LocateCase{"EarlierInTheLayoutWins",
                   {LaidOutDisk(0, "gpt", {Part("fat32", L"RECOVERY", 1), Part("ntfs", L"Recovery", 1, L'E')})},
                   0, 0, 1, L""},
        LocateCase{"GapInDriveNumbersEndsTheWalk",
                   {LaidOutDisk(0, "gpt", {Part("ntfs", L"Windows", 1)}),
                    LaidOutDisk(2, "gpt", {Part("ntfs", L"Recovery", 1, L'E')})},
                   4, 0, 0, L"<unset>"},
        LocateCase{"DriveTenIsNeverLookedAt", TenDrivesRecoveryOnTen(), 4, 0, 0, L"<unset>"},
        LocateCase{"BitLockerNeverMatches",
                   {LaidOutDisk(0, "gpt", {Part("bitlocker", L"Recovery", 1, L'E')})}, 4, 0, 0,
                   L"<unset>"},
        LocateCase{"RecoveryVolumeOnAnotherDiskIsNotTheRoot",
                   {LaidOutDisk(0, "gpt", {Part("ntfs", L"Recovery", 1)}),
                    LaidOutDisk(1, "gpt", {Part("ntfs", L"Recovery", 1, L'E')})},
                   0, 0, 1, L""},
        LocateCase{"RecoveryVolumeAtAnotherOffsetIsNotTheRoot",
                   {LaidOutDisk(0, "mbr", {Part("ntfs", L"Recovery", 1), Part("ntfs", L"Recovery", 1, L'E')})},
                   0, 0, 1, L""},
        LocateCase{"LogicalPartitionsAreNumberedAsWindowsNumbersThem",
                   {LaidOutDisk(0, "mbr", {Part("ntfs", L"A", 1), Part("ntfs", L"B", 1),
                                           Part("ntfs", L"C", 1), Part("fat32", L"D", 3),
                                           Part("ntfs", L"Recovery", 3, L'R')})},
                   0, 0, 5, L"R:\\"},
        LocateCase{"AllTwentySixLettersInUse", TwentySixLetters(), 0, 0, 26, L"Z:\\"},
        LocateCase{"DriveWithoutNumberDoesNotExist",
                   {[] {
                     auto d = LaidOutDisk(0, "gpt", {Part("ntfs", L"Recovery", 1, L'E')});
                     d.drive.reset();
                     return d;
                   }()},
                   4, 0, 0, L"<unset>"}),
    [](const ::testing::TestParamInfo<LocateCase>& info) { return std::string(info.param.name); });

// ---- Faults ------------------------------------------------------------------------------

sim::Profile TwoDisksRecoveryOnOne() {
  return DisksProfile(
      {LaidOutDisk(0, "gpt", {Part("ntfs", L"Windows", 1, L'C')}),
       LaidOutDisk(1, "gpt", {Part("ntfs", L"Data", 1), Part("ntfs", L"Recovery", 1, L'E')})});
}

TEST(RecoveryLocatorFaults, LayoutFailureStopsTheWalkWithFiveAndTheDriveNumber) {
  for (int drive : {0, 1}) {
    SCOPED_TRACE(drive);
    SimMachine m(TwoDisksRecoveryOnOne());
    m->AddFault("DriveLayout:" + std::to_string(drive));
    const auto l = Locate();
    EXPECT_EQ(l.result, 5);
    EXPECT_EQ(l.disk, drive);
    EXPECT_EQ(l.partition, 0);
    EXPECT_EQ(l.root, L"<unset>") << "the root is left as it was";
    EXPECT_EQ(m->open_handles(), 0u);
  }
}

TEST(RecoveryLocatorFaults, UnreadablePartitionsAreSkipped) {
  SimMachine m(DisksProfile({LaidOutDisk(0, "gpt", {Part("ntfs", L"Recovery", 1, L'D')}),
                             LaidOutDisk(1, "gpt", {Part("ntfs", L"Recovery", 1, L'E')})}));
  m->AddFault("ReadFile:0");
  const auto l = Locate();
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.disk, 1);
  EXPECT_EQ(l.partition, 1);
  EXPECT_EQ(l.root, L"E:\\");
}

TEST(RecoveryLocatorFaults, FailedRootSearchStillFindsTheDiskAndLeavesTheRootAsItWas) {
  for (const char* fault : {"GetLogicalDriveStringsW", "VolumeDiskExtents:E"}) {
    SCOPED_TRACE(fault);
    SimMachine m(TwoDisksRecoveryOnOne());
    m->AddFault(fault);
    const auto l = Locate(L"Q:\\");
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.disk, 1);
    EXPECT_EQ(l.partition, 2);
    EXPECT_EQ(l.root, L"Q:\\");
    EXPECT_EQ(m->open_handles(), 0u);
  }
}

TEST(RecoveryLocatorFaults, ExtentsFailureOfAnotherVolumeIsNotReached) {
  // Only volumes labelled "Recovery" are opened, so a failing C: is never asked.
  SimMachine m(TwoDisksRecoveryOnOne());
  m->AddFault("VolumeDiskExtents:C");
  const auto l = Locate(L"Q:\\");
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.root, L"E:\\");
}

// ---- FindRecoveryDriveRoot on its own ----------------------------------------------------

TEST(FindRecoveryDriveRoot, MatchesDiskNumberAndStartingOffsetBoth) {
  SimMachine m(TwoDisksRecoveryOnOne());
  const sim::DiskLayout layout = sim::ReadDiskLayout(*m, 1);
  ASSERT_EQ(layout.entries.size(), 2u);
  const auto offset = static_cast<std::int64_t>(layout.entries[1].offset);
  struct Case {
    std::int32_t disk;
    std::int64_t offset;
    std::int32_t result;
    std::wstring root;
  };
  for (const Case& c : {Case{1, offset, 0, L"E:\\"}, Case{0, offset, 4, L""},
                        Case{1, offset + 512, 4, L""}, Case{2, offset, 4, L""}}) {
    SCOPED_TRACE(testing::Message() << c.disk << " " << c.offset);
    std::wstring root = L"<unset>";
    EXPECT_EQ(FindRecoveryDriveRoot(c.disk, &root, c.offset), c.result);
    EXPECT_EQ(root, c.root);
  }
  EXPECT_EQ(m->open_handles(), 0u);
}

}  // namespace
