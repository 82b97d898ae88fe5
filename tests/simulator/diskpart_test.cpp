// The simulated diskpart: each script line's effect on laid-out disks, read back from the
// images by the simulator's table reader, the product's own label reader and the real tools.
#include "sim/programs/diskpart.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "platform/os.h"
#include "probes/volume_label.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"
#include "sim/programs/std_streams.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

using testing::HasSubstr;
using testing::Not;

namespace {

using testing_support::DisksProfile;
using testing_support::LaidOutDisk;
using testing_support::Part;
using testing_support::SimMachine;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr const wchar_t* kScript = L"C:\\Windows\\Temp\\script.txt";
constexpr const char* kRapidStart = "D3BFE2DE-3DAF-11DF-BA40-E3A556D89593";

// Disk 0 holds C: (the running system), disk 1 a data partition, disk 2 is 64 MiB and empty.
sim::Profile ThreeDisks() {
  sim::Profile p = DisksProfile(
      {LaidOutDisk(0, "gpt", {Part("ntfs", L"Windows", 8, L'C'), Part("ntfs", L"Recovery", 4)}),
       LaidOutDisk(1, "gpt", {Part("ntfs", L"OldData", 20)}), LaidOutDisk(2, "gpt", {})});
  p.disks[2].size_mb = 64;
  return p;
}

// Writes the script as the product's writer does (one byte per character, CR LF) and runs
// diskpart on it the way the process runner does.
std::uint32_t RunScript(sim::Machine& m, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  m.WriteFile(kScript, bytes, false);
  const sim::Program* diskpart = m.FindProgram(L"C:\\Windows\\system32\\diskpart.exe");
  if (diskpart == nullptr) return 0xDEAD;
  return (*diskpart)(m, L"/s \"C:\\Windows\\Temp\\script.txt\"", L"C:\\Windows\\system32");
}

// The label the product reads at a partition's offset, through the physical drive.
std::wstring ProductLabel(int drive, std::uint64_t offset) {
  os::UniqueHandle h(os::CreateFileW(L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(drive),
                                     os::kGenericRead, 3, os::kOpenExisting, 0x80));
  std::wstring label;
  if (!h || ReadVolumeLabel(h.get(), &label, static_cast<std::int64_t>(offset)) != 0) {
    return L"<none>";
  }
  return label;
}

struct LineCase {
  const char* name;
  std::vector<std::string> lines;
  std::function<void(sim::Machine&)> check;
};

TEST(SimDiskpart, EachLineChangesTheSelectedDisk) {
  const std::vector<LineCase> cases = {
      {"clean removes the table, other disks stay",
       {"sel disk 1", "clean"},
       [](sim::Machine& m) {
         EXPECT_EQ(sim::ReadDiskLayout(m, 1).style, sim::DiskLayout::kRaw);
         EXPECT_EQ(sim::ListPartitions(m, 0).size(), 2u);
         EXPECT_EQ(sim::ListPartitions(m, 2).size(), 0u);
         EXPECT_EQ(sim::ReadDiskLayout(m, 2).style, sim::DiskLayout::kGpt);
       }},
      {"convert gpt gives an empty GPT over the whole disk",
       {"select disk 1", "clean", "convert gpt"},
       [](sim::Machine& m) {
         const sim::DiskLayout l = sim::ReadDiskLayout(m, 1);
         EXPECT_EQ(l.style, sim::DiskLayout::kGpt);
         EXPECT_THAT(l.entries, testing::IsEmpty());
         EXPECT_EQ(l.first_usable, 34u * 512);
         EXPECT_EQ(l.max_partitions, 128u);
       }},
      {"convert mbr",
       {"sel disk 1", "clean", "convert mbr"},
       [](sim::Machine& m) {
         const sim::DiskLayout l = sim::ReadDiskLayout(m, 1);
         EXPECT_EQ(l.style, sim::DiskLayout::kMbr);
         EXPECT_EQ(sim::ListPartitions(m, 1).size(), 0u);
       }},
      {"create partition efi takes all the free space from 1 MiB on",
       {"sel disk 2", "create partition efi"},
       [](sim::Machine& m) {
         const sim::DiskLayout l = sim::ReadDiskLayout(m, 2);
         ASSERT_EQ(l.entries.size(), 1u);
         EXPECT_EQ(l.entries[0].offset, kMiB);
         EXPECT_EQ(l.entries[0].offset + l.entries[0].length, l.first_usable + l.usable_length);
         EXPECT_EQ(sim::GuidText(l.entries[0].gpt_type), "C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
         EXPECT_EQ(l.entries[0].gpt_attributes, 0u);
       }},
      {"size= limits a partition and the next one follows it",
       {"sel disk 2", "create partition efi size=10", "create partition primary size=20"},
       [](sim::Machine& m) {
         const auto parts = sim::ListPartitions(m, 2);
         ASSERT_EQ(parts.size(), 2u);
         EXPECT_EQ(parts[0].offset, kMiB);
         EXPECT_EQ(parts[0].length, 10 * kMiB);
         EXPECT_EQ(parts[1].offset, 11 * kMiB);
         EXPECT_EQ(parts[1].length, 20 * kMiB);
         EXPECT_EQ(parts[1].type, sim::kGptBasicData);
       }},
      {"format writes a FAT32 volume with its label",
       {"sel disk 2", "create partition efi", "Format Quick fs=FAT32 Label=\"IntelRST\""},
       [](sim::Machine& m) {
         const auto parts = sim::ListPartitions(m, 2);
         ASSERT_EQ(parts.size(), 1u);
         EXPECT_EQ(parts[0].volume.fs, "FAT32");
         EXPECT_EQ(ProductLabel(2, parts[0].offset), L"IntelRST");
       }},
      {"format fs=ntfs",
       {"sel disk 2", "create partition primary", "format fs=ntfs label=Hiber quick"},
       [](sim::Machine& m) {
         const auto parts = sim::ListPartitions(m, 2);
         ASSERT_EQ(parts.size(), 1u);
         EXPECT_EQ(parts[0].volume.fs, "NTFS");
         EXPECT_EQ(ProductLabel(2, parts[0].offset), L"Hiber");
       }},
      {"set id and gpt attributes rewrite only the selected entry",
       {"sel disk 2", "create partition efi size=8", "create partition primary size=8",
        "Set ID = D3BFE2DE-3DAF-11DF-BA40-E3A556D89593 Override",
        "GPT Attributes=0x8000000000000001"},
       [](sim::Machine& m) {
         const sim::DiskLayout l = sim::ReadDiskLayout(m, 2);
         ASSERT_EQ(l.entries.size(), 2u);
         EXPECT_EQ(sim::GuidText(l.entries[0].gpt_type), "C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
         EXPECT_EQ(l.entries[0].gpt_attributes, 0u);
         EXPECT_EQ(sim::GuidText(l.entries[1].gpt_type), kRapidStart);
         EXPECT_EQ(l.entries[1].gpt_attributes, 0x8000000000000001u);
         EXPECT_EQ(l.entries[1].offset, 9 * kMiB);
       }},
      {"select partition N moves the focus",
       {"sel disk 1", "sel partition 1", "set id=DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"},
       [](sim::Machine& m) {
         EXPECT_EQ(sim::ListPartitions(m, 1)[0].type, "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC");
         EXPECT_EQ(*sim::ListPartitions(m, 1)[0].volume.label, L"OldData");
       }},
      {"create partition primary on a disk without a table makes it MBR",
       {"sel disk 1", "clean", "Create Partition Primary ID=84"},
       [](sim::Machine& m) {
         const sim::DiskLayout l = sim::ReadDiskLayout(m, 1);
         EXPECT_EQ(l.style, sim::DiskLayout::kMbr);
         ASSERT_EQ(l.entries.size(), 4u);
         EXPECT_EQ(l.entries[0].mbr_type, 0x84);
         EXPECT_EQ(l.entries[0].offset, kMiB);
         EXPECT_EQ(l.entries[0].offset + l.entries[0].length, sim::DiskBytes(m, 1));
         EXPECT_EQ(l.entries[1].mbr_type, 0);
       }},
      {"set id on MBR takes a byte",
       {"sel disk 1", "clean", "create partition primary id=0x84", "set id=07"},
       [](sim::Machine& m) { EXPECT_EQ(sim::ReadDiskLayout(m, 1).entries[0].mbr_type, 0x07); }},
      {"keywords in any case, shortened, blanks around =, comments",
       {"  SEL   DISK 2 ", "rem nothing", "CRE PART EFI SIZE = 4",
        "format FS = fat32 LABEL = \"a b\""},
       [](sim::Machine& m) {
         const auto parts = sim::ListPartitions(m, 2);
         ASSERT_EQ(parts.size(), 1u);
         EXPECT_EQ(parts[0].length, 4 * kMiB);
         EXPECT_EQ(ProductLabel(2, parts[0].offset), L"a b") << "quoted, blank kept";
       }},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m(ThreeDisks());
    EXPECT_EQ(RunScript(*m, c.lines), 0u) << sim::Diskpart(*m).runs.back().output;
    const sim::DiskpartRun& run = sim::Diskpart(*m).runs.back();
    EXPECT_EQ(run.applied.size(), c.lines.size());
    EXPECT_EQ(run.failed_line, "");
    c.check(*m);
  }
}

struct FailureCase {
  const char* name;
  std::vector<std::string> lines;
  std::uint32_t exit_code;
  std::size_t applied;
  const char* says;
};

TEST(SimDiskpart, FailsLikeDiskpartAndStopsAtTheFailingLine) {
  const std::vector<FailureCase> cases = {
      {"a line it does not know", {"sel disk 1", "frobnicate", "clean"}, 5, 1, "SELECT"},
      {"a disk that does not exist", {"sel disk 7", "clean"}, 5, 0, "disk you specified"},
      {"a disk number that is no number", {"sel disk one", "clean"}, 5, 0, "not valid"},
      {"clean without a disk", {"clean"}, 5, 0, "no disk selected"},
      {"convert without a disk", {"convert gpt"}, 5, 0, "no disk selected"},
      {"format without a partition", {"sel disk 2", "format fs=fat32"}, 5, 1, "no volume"},
      {"set id without a partition", {"sel disk 2", "set id=07"}, 5, 1, "no partition"},
      {"attributes without a partition",
       {"sel disk 2", "gpt attributes=0x1"},
       5,
       1,
       "no partition"},
      {"selecting a disk drops the partition",
       {"sel disk 2", "create partition efi size=4", "sel disk 2", "gpt attributes=0x1"},
       5,
       3,
       "no partition"},
      {"attributes that are no number",
       {"sel disk 2", "create partition efi", "gpt attributes=0xZZ"},
       5,
       2,
       "not valid"},
      {"a type that is no GUID on GPT",
       {"sel disk 2", "create partition efi", "set id=84"},
       5,
       2,
       "not valid"},
      {"clean on the disk of the running system",
       {"sel disk 0", "clean"},
       4,
       1,
       "Clean is not allowed"},
      {"convert of a disk with partitions", {"sel disk 1", "convert gpt"}, 4, 1, "not convertible"},
      {"an EFI partition on an MBR disk",
       {"sel disk 1", "clean", "convert mbr", "create partition efi"},
       4,
       3,
       "not supported"},
      {"no free space left",
       {"sel disk 2", "create partition efi", "create partition primary"},
       4,
       2,
       "not enough usable space"},
      {"a partition larger than the disk",
       {"sel disk 2", "create partition primary size=100"},
       4,
       1,
       "not enough usable space"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m(ThreeDisks());
    const std::vector<sim::PartitionSummary> before1 = sim::ListPartitions(*m, 1);
    EXPECT_EQ(RunScript(*m, c.lines), c.exit_code);
    const sim::DiskpartRun& run = sim::Diskpart(*m).runs.back();
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.applied.size(), c.applied);
    ASSERT_LT(c.applied, c.lines.size());
    EXPECT_EQ(run.failed_line, c.lines[c.applied]);
    EXPECT_THAT(run.error, HasSubstr(c.says));
    // The message is on diskpart's standard output, which nobody captures.
    EXPECT_THAT(sim::Streams(*m).uncaptured_stdout, HasSubstr(c.says));
    EXPECT_THAT(sim::Streams(*m).uncaptured_stdout, Not(HasSubstr("Leaving DiskPart")));
    // Lines after the failing one are not run: the "clean" after an unknown line leaves disk 1.
    if (std::string(c.name) == "a line it does not know") {
      EXPECT_EQ(sim::ListPartitions(*m, 1).size(), before1.size());
    }
  }
}

TEST(SimDiskpart, ArgumentsAndScriptFile) {
  SimMachine m(ThreeDisks());
  const sim::Program* diskpart = m->FindProgram(L"C:\\WINDOWS\\SYSTEM32\\DISKPART.EXE");
  ASSERT_NE(diskpart, nullptr);
  EXPECT_EQ((*diskpart)(*m, L"", L""), sim::kDiskpartBadArguments);
  EXPECT_EQ((*diskpart)(*m, L"/x \"C:\\a.txt\"", L""), sim::kDiskpartBadArguments);
  EXPECT_EQ((*diskpart)(*m, L"/s \"C:\\Windows\\Temp\\missing.txt\"", L""), sim::kDiskpartNoScript);
  m->WriteFile(L"C:\\Windows\\Temp\\s.txt", "sel disk 1\nclean", false);
  EXPECT_EQ((*diskpart)(*m, L"/S C:\\Windows\\Temp\\s.txt", L""), 0u) << "unquoted, no CR LF";
  EXPECT_EQ(sim::ReadDiskLayout(*m, 1).style, sim::DiskLayout::kRaw);
  m->WriteFile(L"C:\\Windows\\Temp\\t.txt", "sel disk 2\r\nexit\r\nclean\r\n", false);
  EXPECT_EQ((*diskpart)(*m, L"/s t.txt", L"C:\\Windows\\Temp"), 0u) << "relative to its folder";
  EXPECT_EQ(sim::Diskpart(*m).runs.back().applied.size(), 2u) << "exit ends the script";
  EXPECT_EQ(sim::ReadDiskLayout(*m, 2).style, sim::DiskLayout::kGpt);
  ASSERT_EQ(sim::Diskpart(*m).runs.size(), 5u);
  EXPECT_EQ(sim::Diskpart(*m).runs[3].lines, (std::vector<std::string>{"sel disk 1", "clean"}));
}

TEST(SimDiskpart, DiskNumbersAreDriveNumbersNotProfileOrder) {
  sim::Profile p = ThreeDisks();
  p.disks[1].drive = 5;
  p.disks[2].drive = 1;
  SimMachine m(p);
  EXPECT_EQ(RunScript(*m, {"sel disk 1", "create partition efi"}), 0u);
  EXPECT_EQ(sim::ListPartitions(*m, 2).size(), 1u) << "drive 1 is the third profile disk";
  EXPECT_EQ(*sim::ListPartitions(*m, 1)[0].volume.label, L"OldData");
  EXPECT_THAT(sim::Diskpart(*m).runs.back().output, HasSubstr("Disk 1 is now the selected disk."));
}

#ifndef _WIN32
std::string RunTool(const std::string& command) {
  std::string out;
  FILE* p = ::popen(("PATH=$PATH:/usr/sbin:/sbin " + command + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), p) != nullptr) out += buffer;
  ::pclose(p);
  return out;
}

// The product's create script leaves a disk that the real tools read as a valid GPT with the
// Rapid Start partition, and a FAT32 volume that blkid probes on its own.
TEST(SimDiskpartWithRealTools, CreateScriptGivesAValidGptAndFat32Volume) {
  SimMachine m(ThreeDisks());
  ASSERT_EQ(RunScript(*m, {"sel disk 1", "clean", "convert gpt", "Create Partition EFI",
                           "Format Quick fs=FAT32 Label=\"IntelRST\"",
                           "Set ID = D3BFE2DE-3DAF-11DF-BA40-E3A556D89593 Override",
                           "GPT Attributes=0x8000000000000001"}),
            0u);
  const std::string image = sim::DiskImagePath(*m, 1).string();
  const auto parts = sim::ListPartitions(*m, 1);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(ProductLabel(1, parts[0].offset), L"IntelRST");

  const std::string verify = RunTool("sgdisk -v " + image);
  EXPECT_THAT(verify, HasSubstr("No problems found"));
  const std::string table = RunTool("sfdisk -d " + image);
  EXPECT_THAT(table, HasSubstr("label: gpt"));
  EXPECT_THAT(table, HasSubstr("start=        2048"));
  EXPECT_THAT(table, HasSubstr(std::string("type=") + kRapidStart));
  EXPECT_THAT(table, HasSubstr("attrs=\"RequiredPartition GUID:63\""));
  const std::string probe =
      RunTool("blkid -p -o export --offset " + std::to_string(parts[0].offset) + " " + image);
  EXPECT_THAT(probe, HasSubstr("TYPE=vfat"));
  EXPECT_THAT(probe, HasSubstr("VERSION=FAT32"));
  EXPECT_THAT(probe, HasSubstr("LABEL=IntelRST"));
}

TEST(SimDiskpartWithRealTools, MbrScriptGivesTheRapidStartType) {
  SimMachine m(ThreeDisks());
  ASSERT_EQ(RunScript(*m, {"sel disk 1", "clean", "Create Partition Primary ID=84"}), 0u);
  const std::string table = RunTool("sfdisk -d " + sim::DiskImagePath(*m, 1).string());
  EXPECT_THAT(table, HasSubstr("label: dos"));
  EXPECT_THAT(table, HasSubstr("start=        2048, size=       43008, type=84"));
}
#endif

}  // namespace
