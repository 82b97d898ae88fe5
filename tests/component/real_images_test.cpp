// Labels and the locator on disk images made by the real tools (tests/make-images.sh), compared
// with what blkid reads from the same bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "platform/bytes.h"
#include "probes/recovery_locator.h"
#include "sim/core/text.h"
#include "sim/harness/run.h"
#include "sim/profile/default_profile.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::DisksProfile;
using testing_support::FileBytes;
using testing_support::ImageDisk;
using testing_support::ImagePath;
using testing_support::Locate;
using testing_support::SimMachine;

struct BlkidLine {
  std::int64_t offset = 0;
  std::string label;  // "<none>": blkid reads no label
};

std::vector<BlkidLine> Manifest(const std::string& image) {
  std::vector<BlkidLine> lines;
  std::ifstream in(ImagePath(image + ".blkid"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    BlkidLine l;
    std::string size;
    std::getline(fields, size, '\t');
    l.offset = std::stoll(size);
    std::getline(fields, size, '\t');
    std::getline(fields, l.label);
    lines.push_back(l);
  }
  return lines;
}

struct Reading {
  std::int32_t result = -1;
  std::wstring label;
};

Reading ReadAt(std::int64_t offset) {
  os::UniqueHandle h(os::CreateFileW(L"\\\\.\\PHYSICALDRIVE0", os::kGenericRead,
                                     os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting,
                                     os::kFileAttributeNormal));
  Reading r;
  r.label = L"<unset>";
  r.result = ReadVolumeLabel(h.get(), &r.label, offset);
  return r;
}

// Where the product's rules and blkid's must part, and why.
struct Difference {
  const char* image;
  std::size_t index;  // the partition's line in the manifest
  std::int32_t result;
  const char* label;
  const char* why;
};
const Difference kDifferences[] = {
    {"fat32-cases.img", 2, 4, "",
     "attributes 0x28 (label and archive): blkid takes any entry with the label bit and not "
     "the directory bit; the product takes only attributes exactly 0x08"},
};

TEST(RealImages, EveryPartitionsLabelAgreesWithBlkid) {
  const char* images[] = {"gpt-labels.img",  "mbr-extended.img", "fat32-cases.img",
                          "bitlocker.img",   "recovery-a.img",   "recovery-b.img",
                          "fat32-alone.img", "ntfs-alone.img",   "fat32-large.img"};
  std::size_t compared = 0;
  for (const char* image : images) {
    SCOPED_TRACE(image);
    const auto lines = Manifest(image);
    ASSERT_FALSE(lines.empty()) << "no blkid manifest: was tests/make-images.sh run?";
    SimMachine m(DisksProfile({ImageDisk(0, ImagePath(image))}));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "partition line " << i << " at " << lines[i].offset);
      const Reading r = ReadAt(lines[i].offset);
      const Difference* differs = nullptr;
      for (const Difference& d : kDifferences) {
        if (std::string(d.image) == image && d.index == i) differs = &d;
      }
      if (differs != nullptr) {
        SCOPED_TRACE(differs->why);
        EXPECT_NE(lines[i].label, differs->label) << "blkid agrees after all";
        EXPECT_EQ(r.result, differs->result);
        if (r.result == 0) {
          EXPECT_EQ(sim::ToUtf8(r.label), differs->label);
        }
      } else if (lines[i].label == "<none>") {
        EXPECT_NE(r.result, 0) << sim::ToUtf8(r.label);
      } else {
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(sim::ToUtf8(r.label), lines[i].label);
      }
      ++compared;
    }
  }
  EXPECT_GE(compared, 20u);
}

TEST(RealImages, SpecificLabelsAndResults) {
  struct Case {
    const char* image;
    std::size_t index;
    std::int32_t result;
    std::wstring label;
  };
  const Case cases[] = {
      {"gpt-labels.img", 2, 0, L"recovery"},   // NTFS in lower case
      {"gpt-labels.img", 3, 0, L"data 1"},     // FAT32 in lower case, padded with blanks
      {"gpt-labels.img", 4, 4, L"<unset>"},    // an unformatted partition
      {"fat32-cases.img", 0, 0, L"RECOVERY"},  // label entry beyond the first cluster
      {"fat32-cases.img", 1, 4, L"<unset>"},   // deleted label entry
      {"fat32-cases.img", 3, 0, L"A B"},       // padded to 11 bytes
      {"bitlocker.img", 0, 4, L"<unset>"},     // BitLocker-marked, NTFS label beneath
      {"mbr-extended.img", 1, 4, L"<unset>"},  // the extended container's first sector
      {"fat32-large.img", 0, 0, L"RECOVERY"},  // a 559 MiB table, read in pieces
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image << " " << c.index);
    const auto lines = Manifest(c.image);
    ASSERT_GT(lines.size(), c.index);
    SimMachine m(DisksProfile({ImageDisk(0, ImagePath(c.image))}));
    const Reading r = ReadAt(lines[c.index].offset);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.label, c.label);
  }
}

// One sector midway through the second table fails, far from the root directory's chain
// (mkfs.fat puts the root at cluster 2, in the table's first sector; this table spans five of
// the reader's pieces, and the walk reads only the first). The table is read whole before the
// walk, so the label read fails, no partition holds "Recovery" and the run stops.
TEST(RealImages, AnUnreadableSectorAnywhereInTheTableStopsTheRun) {
  const auto lines = Manifest("recovery-b.img");
  ASSERT_EQ(lines.size(), 1u);
  std::vector<std::uint8_t> boot(512);
  std::ifstream image(ImagePath("recovery-b.img"), std::ios::binary);
  image.seekg(lines[0].offset).read(reinterpret_cast<char*>(boot.data()), 512);
  const std::uint32_t spf = bytes::U32(boot, 0x24);
  const std::uint64_t sector = lines[0].offset / 512 + bytes::U16(boot, 0x0E) + spf + spf / 2;
  for (const bool faulted : {false, true}) {
    const std::string fault = "ReadFile:0@" + std::to_string(sector);
    SCOPED_TRACE(faulted ? fault : "no fault");
    sim::Profile p = sim::DefaultProfile();
    p.disks[0].image = ImagePath("recovery-b.img");
    p.disks[0].partitions.clear();
    p.disks[0].letters = {{L'C', 1}};  // the Windows volume, which must lie on MasterHDD
    if (faulted) p.faults = {fault};
    SimMachine m(p);
    EXPECT_EQ(ReadAt(lines[0].offset).result, faulted ? 5 : 0);
    EXPECT_EQ(Locate().result, faulted ? 4 : 0);
    EXPECT_EQ(sim::RunProduct(*m, L""), faulted ? 1 : 0);
    const std::string log = FileBytes(*m, p.windows_dir + L"\\Temp\\TempProc.log");
    EXPECT_EQ(log.ends_with("\t[Debug]: Not exist 'Recovery' partition on Disk[0]\r\n"), faulted)
        << log;
  }
}

struct ImageLocateCase {
  const char* name;
  std::vector<std::pair<int, const char*>> drives;
  std::map<wchar_t, int> letters_of_first;
  std::int32_t result, disk, partition;
  std::wstring root;
};

class RealImageLocate : public ::testing::TestWithParam<ImageLocateCase> {};

TEST_P(RealImageLocate, FindsTheRecoveryPartition) {
  const ImageLocateCase& c = GetParam();
  std::vector<sim::Disk> disks;
  for (const auto& [drive, image] : c.drives) {
    disks.push_back(ImageDisk(drive, ImagePath(image),
                              disks.empty() ? c.letters_of_first : std::map<wchar_t, int>{}));
  }
  SimMachine m(DisksProfile(disks));
  const auto l = Locate();
  EXPECT_EQ(l.result, c.result);
  EXPECT_EQ(l.disk, c.disk);
  EXPECT_EQ(l.partition, c.partition);
  EXPECT_EQ(l.root, c.root);
}

INSTANTIATE_TEST_SUITE_P(
    Images, RealImageLocate,
    ::testing::Values(
        ImageLocateCase{"TwoDisksBothHoldingRecoveryGpt",
                        {{0, "recovery-a.img"}, {1, "recovery-b.img"}},
                        {{L'E', 2}},
                        0,
                        0,
                        2,
                        L"E:\\"},
        ImageLocateCase{"TwoDisksBothHoldingRecoveryMbr",
                        {{1, "recovery-a.img"}, {0, "recovery-b.img"}},
                        {{L'E', 2}},
                        0,
                        0,
                        1,
                        L""},
        ImageLocateCase{"GapInDriveNumbers",
                        {{0, "bitlocker.img"}, {2, "recovery-a.img"}},
                        {},
                        4,
                        0,
                        0,
                        L"<unset>"},
        ImageLocateCase{"BitLockerThenRecovery",
                        {{0, "bitlocker.img"}, {1, "recovery-b.img"}},
                        {},
                        0,
                        1,
                        1,
                        L""},
        ImageLocateCase{
            "LogicalPartitionOnMbr", {{0, "mbr-extended.img"}}, {{L'R', 2}}, 0, 0, 2, L"R:\\"},
        ImageLocateCase{
            "LowerCaseNtfsOnGpt", {{0, "gpt-labels.img"}}, {{L'D', 3}}, 0, 0, 3, L"D:\\"},
        ImageLocateCase{
            "LabelBeyondTheFirstCluster", {{0, "fat32-cases.img"}}, {{L'D', 2}}, 0, 0, 1, L""}),
    [](const ::testing::TestParamInfo<ImageLocateCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
