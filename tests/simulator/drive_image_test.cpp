// The simulated drives and volumes: layouts as Windows reports them, labels read from the file
// systems on the images, sparse storage, overlays and faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <span>

#include "platform/bytes.h"
#include "platform/os.h"
#include "probes/control_codes.h"
#include "probes/disk_extents.h"
#include "probes/drive_layout.h"
#include "sim/core/text.h"
#include "sim/devices/physical_drive.h"
#include "sim/devices/windows_codes.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/file_systems.h"
#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"
#include "sim/profile/profile.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>

using testing::HasSubstr;
#endif

namespace {

using testing_support::DisksProfile;
using testing_support::ImageDisk;
using testing_support::ImagePath;
using testing_support::LaidOutDisk;
using testing_support::Part;
using testing_support::SimMachine;

std::vector<std::uint8_t> LayoutBytes(const std::wstring& drive, bool* ok) {
  os::UniqueHandle h(os::CreateFileW(drive, os::kGenericRead,
                                     os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting,
                                     os::kFileAttributeNormal));
  std::vector<std::uint8_t> buffer(drive_layout::kBufferBytes, 0);
  std::uint32_t returned = 0;
  *ok = h && os::DeviceIoControl(h.get(), control_codes::kIoctlDiskGetDriveLayoutEx, nullptr, 0,
                                 buffer.data(), drive_layout::kBufferBytes, &returned);
  buffer.resize(returned);
  return buffer;
}

// The simulated answers are read with the product's own decoder, so that the simulator's
// encoder and the product's reader check each other.
TEST(SimDrives, MbrLayoutListsFourEntriesPerTableWithLogicalsNumberedAfterPrimaries) {
  SimMachine m(DisksProfile(
      {LaidOutDisk(0, "mbr",
                   {Part("ntfs", L"A", 2), Part("fat32", L"B", 2), Part("ntfs", L"C", 2),
                    Part("ntfs", L"D", 3), Part("fat32", L"E", 3)})}));
  bool ok = false;
  const DriveLayout layout = DecodeDriveLayout(LayoutBytes(L"\\\\.\\PHYSICALDRIVE0", &ok));
  ASSERT_TRUE(ok) << "error " << os::GetLastError();
  EXPECT_EQ(layout.style, drive_layout::kStyleMbr);
  ASSERT_EQ(layout.entries.size(), 12u) << "the MBR and two extended boot records";
  struct Row {
    std::uint32_t number;
    std::uint8_t type;
    bool recognized;
  };
  const Row rows[12] = {{1, 0x07, 1}, {2, 0x0C, 1}, {3, 0x07, 1}, {0, 0x0F, 0},
                        {4, 0x07, 1}, {0, 0x05, 0}, {0, 0, 0},    {0, 0, 0},
                        {5, 0x0C, 1}, {0, 0, 0},    {0, 0, 0},    {0, 0, 0}};
  for (std::size_t i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(layout.entries[i].number, rows[i].number);
    EXPECT_EQ(layout.entries[i].mbrType, rows[i].type);
    EXPECT_EQ(layout.entries[i].recognized, rows[i].recognized);
  }
  // The extended container starts where the fourth partition's region starts; the first
  // logical one MiB (its boot record's gap) later.
  EXPECT_EQ(layout.entries[3].start, 7u << 20);
  EXPECT_EQ(layout.entries[4].start, 8u << 20);
  EXPECT_EQ(layout.entries[8].start, 11u << 20);
}

TEST(SimDrives, GptLayoutListsEveryUsedEntryWithTypesAndNames) {
  SimMachine m(sim::DefaultProfile());
  bool ok = false;
  const auto bytes = LayoutBytes(L"\\\\.\\physicaldrive0", &ok);
  ASSERT_TRUE(ok) << "error " << os::GetLastError();
  const DriveLayout layout = DecodeDriveLayout(bytes);
  EXPECT_EQ(layout.style, drive_layout::kStyleGpt);
  ASSERT_EQ(layout.entries.size(), 4u);
  const std::uint64_t offsets[4] = {1ull << 20, 261ull << 20, 389ull << 20, 456389ull << 20};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(layout.entries[i].start, offsets[i]) << i;
    EXPECT_EQ(layout.entries[i].number, i + 1) << i;
  }
  EXPECT_EQ(sim::GuidText(layout.entries[0].gptType), sim::kGptEfiSystem);
  EXPECT_EQ(sim::GuidText(layout.entries[1].gptType), sim::kGptMicrosoftReserved);
  // What the product does not read, at the simulator's own offsets.
  EXPECT_EQ(bytes::U32(bytes, sim::layout_fields::kGptMaxPartitionCount), 128u);
  const auto nameAt = [&bytes](std::size_t entry) {
    return bytes::U16(bytes, sim::kDriveLayoutHeaderSize +
                                 entry * sim::kPartitionInformationExSize +
                                 sim::partition_fields::kGptName);
  };
  EXPECT_EQ(nameAt(0), 'E') << "EFI system partition";
  EXPECT_EQ(nameAt(2), 'B') << "Basic data partition";
  // The empty second disk: GPT without entries.
  const DriveLayout empty = DecodeDriveLayout(LayoutBytes(L"\\\\.\\PHYSICALDRIVE1", &ok));
  ASSERT_TRUE(ok) << "error " << os::GetLastError();
  EXPECT_EQ(empty.style, drive_layout::kStyleGpt);
  EXPECT_THAT(empty.entries, testing::IsEmpty());
}

// A GPT header or entry whose sector numbers lie past the disk, or past what 64-bit byte
// offsets hold, is damage: never a table read from wrapped offsets.
TEST(SimDrives, GptNumbersPastTheDiskAreDamageNotWrappedOffsets) {
  SimMachine m(sim::DefaultProfile());
  auto patch = [&m](std::uint64_t at, std::uint64_t value) {
    std::uint8_t field[8];
    for (int i = 0; i < 8; ++i) field[i] = static_cast<std::uint8_t>(value >> (8 * i));
    ASSERT_TRUE(sim::WriteImage(*m, 0, at, field, sizeof(field)));
  };
  // The first entry's last sector near 2^64: that entry goes, the others stay.
  patch(2 * 512 + 40, ~0ull - 1);
  sim::DiskLayout layout = sim::ReadDiskLayout(*m, 0);
  EXPECT_EQ(layout.style, sim::DiskLayout::kGpt);
  EXPECT_EQ(layout.entries.size(), 3u);
  for (const sim::LayoutEntry& e : layout.entries) EXPECT_LT(e.offset, 1ull << 40) << e.offset;
  // The entry array at sector 2^62: no GPT at all.
  patch(512 + 0x48, 1ull << 62);
  layout = sim::ReadDiskLayout(*m, 0);
  EXPECT_NE(layout.style, sim::DiskLayout::kGpt) << layout.entries.size() << " entries";
  EXPECT_TRUE(layout.entries.empty()) << layout.entries.size() << " entries";
}

TEST(SimDrives, LayoutThatDoesNotFitTheBufferFailsAsWindowsDoes) {
  SimMachine m(sim::DefaultProfile());
  os::UniqueHandle h(
      os::CreateFileW(L"\\\\.\\PHYSICALDRIVE0", os::kGenericRead, 3, os::kOpenExisting, 0x80));
  std::vector<std::uint8_t> small(48 + 3 * 144);
  std::uint32_t returned = 7;
  EXPECT_FALSE(os::DeviceIoControl(h.get(), control_codes::kIoctlDiskGetDriveLayoutEx, nullptr, 0,
                                   small.data(), static_cast<std::uint32_t>(small.size()),
                                   &returned))
      << "error " << os::GetLastError();
  EXPECT_EQ(os::GetLastError(), os::kErrorInsufficientBuffer);
}

TEST(SimDrives, RawReadsAreWholeSectorsAndCounted) {
  SimMachine m(sim::DefaultProfile());
  os::UniqueHandle h(
      os::CreateFileW(L"\\\\.\\PHYSICALDRIVE0", os::kGenericRead, 3, os::kOpenExisting, 0x80));
  std::uint8_t sector[512];
  std::uint32_t read = 0;
  ASSERT_TRUE(os::SetFilePointerEx(h.get(), 0, os::kFileBegin)) << "error " << os::GetLastError();
  ASSERT_TRUE(os::ReadFile(h.get(), sector, 512, &read)) << "error " << os::GetLastError();
  EXPECT_EQ(read, 512u);
  EXPECT_EQ(sector[0x1BE + 4], 0xEE) << "protective MBR";
  EXPECT_EQ(sim::DiskBytesReadByProduct(*m), 512u);
  EXPECT_FALSE(os::ReadFile(h.get(), sector, 100, &read)) << "not a whole sector";
  EXPECT_EQ(os::GetLastError(), os::kErrorInvalidParameter);
  // At the end of the disk a read gives nothing.
  ASSERT_TRUE(os::SetFilePointerEx(h.get(), 0, os::kFileEnd)) << "error " << os::GetLastError();
  EXPECT_TRUE(os::ReadFile(h.get(), sector, 512, &read)) << "error " << os::GetLastError();
  EXPECT_EQ(read, 0u);
}

TEST(SimDrives, LaidOutDisksAreSparse) {
  SimMachine m(sim::DefaultProfile());
  EXPECT_EQ(sim::DiskBytes(*m, 0), 476940ull << 20);
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(::stat(sim::DiskImagePath(*m, 0).string().c_str(), &st), 0);
  EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 16ull << 20)
      << "a 500 GB disk costs only what was written";
#endif
}

// ---- Volumes ---------------------------------------------------------------------------------

std::wstring RootList() {
  std::vector<wchar_t> roots;
  const std::uint32_t n = os::GetLogicalDriveStringsW(105, &roots);
  return std::wstring(roots.begin(), roots.begin() + std::min<std::size_t>(n, roots.size()));
}

TEST(SimVolumes, LettersComeFromTheProfileAndCIsAlwaysThere) {
  {
    SimMachine m(sim::DefaultProfile());
    EXPECT_EQ(RootList(), std::wstring(L"C:\\\0D:\\\0", 8));
  }
  {
    SimMachine m(DisksProfile({LaidOutDisk(0, "gpt", {Part("ntfs", L"X", 1, L'F')}),
                               ImageDisk(1, ImagePath("gpt-labels.img"), {{L'E', 3}, {L'G', 9}})}));
    EXPECT_EQ(RootList(), std::wstring(L"C:\\\0E:\\\0F:\\\0", 12)) << "partition 9 does not exist";
    std::wstring label = L"x";
    EXPECT_TRUE(os::GetVolumeInformationW(L"C:\\", &label)) << "error " << os::GetLastError();
    EXPECT_EQ(label, L"") << "C: of the host folder";
    EXPECT_TRUE(os::GetVolumeInformationW(L"e:\\", &label)) << "error " << os::GetLastError();
    EXPECT_EQ(label, L"recovery");
    EXPECT_FALSE(os::GetVolumeInformationW(L"G:\\", &label)) << "error " << os::GetLastError();
  }
}

TEST(SimVolumes, RootListThatDoesNotFitReturnsTheSizeNeeded) {
  SimMachine m(sim::DefaultProfile());
  std::vector<wchar_t> roots;
  EXPECT_EQ(os::GetLogicalDriveStringsW(8, &roots), 9u);
  EXPECT_THAT(roots, testing::IsEmpty());
  EXPECT_EQ(os::GetLogicalDriveStringsW(9, &roots), 8u);
  m->AddFault("GetLogicalDriveStringsW");
  EXPECT_EQ(os::GetLogicalDriveStringsW(105, &roots), 0u);
}

TEST(SimVolumes, LabelIsReadFromTheFileSystemNotFromTheProfile) {
  SimMachine m(DisksProfile(
      {LaidOutDisk(0, "mbr",
                   {Part("fat32", L"OLD", 2, L'E'), Part("bitlocker", L"Recovery", 1, L'F'),
                    Part("raw", L"", 1, L'G')})}));
  std::wstring label;
  ASSERT_TRUE(os::GetVolumeInformationW(L"E:\\", &label)) << "error " << os::GetLastError();
  EXPECT_EQ(label, L"OLD");
  EXPECT_FALSE(os::GetVolumeInformationW(L"F:\\", &label)) << "a locked BitLocker volume";
  EXPECT_FALSE(os::GetVolumeInformationW(L"G:\\", &label)) << "no file system";
  // Relabel on the image itself.
  const sim::DiskLayout layout = sim::ReadDiskLayout(*m, 0);
  ASSERT_TRUE(sim::FormatPartition(*m, 0, layout.entries[0].offset, layout.entries[0].length,
                                   "fat32", L"NEW"))
      << "error " << os::GetLastError();
  ASSERT_TRUE(os::GetVolumeInformationW(L"E:\\", &label)) << "error " << os::GetLastError();
  EXPECT_EQ(label, L"NEW");
}

TEST(SimVolumes, ExtentsGiveTheDriveNumberAndStartingOffset) {
  auto disk = LaidOutDisk(3, "gpt", {Part("ntfs", L"A", 1), Part("ntfs", L"B", 2, L'E')});
  SimMachine m(DisksProfile({disk}));
  os::UniqueHandle v(os::CreateFileW(L"\\\\.\\E:", os::kGenericRead, 7, os::kOpenExisting, 0x80));
  ASSERT_TRUE(v) << "error " << os::GetLastError();
  std::vector<std::uint8_t> out(disk_extents::kBufferBytes);
  std::uint32_t returned = 0;
  ASSERT_TRUE(os::DeviceIoControl(v.get(), control_codes::kIoctlVolumeGetVolumeDiskExtents, nullptr,
                                  0, out.data(), disk_extents::kBufferBytes, &returned))
      << "error " << os::GetLastError();
  EXPECT_EQ(returned, 32u);
  const std::vector<DiskExtent> extents = DecodeDiskExtents(std::span(out).first(returned));
  ASSERT_EQ(extents.size(), 1u);
  EXPECT_EQ(extents[0].disk, 3u) << "drive number, not profile index";
  EXPECT_EQ(extents[0].start, 2ull << 20);
  EXPECT_EQ(extents[0].length, 2ull << 20);
  m->AddFault("VolumeDiskExtents:E");
  EXPECT_FALSE(os::DeviceIoControl(v.get(), control_codes::kIoctlVolumeGetVolumeDiskExtents,
                                   nullptr, 0, out.data(), disk_extents::kBufferBytes, &returned))
      << "error " << os::GetLastError();
  EXPECT_EQ(os::CreateFileW(L"\\\\.\\Q:", os::kGenericRead, 7, os::kOpenExisting, 0x80),
            os::kInvalidHandle);
}

TEST(SimDrives, ImageDisksAreNeverWrittenThrough) {
  testing_support::TempDir copy;
  const auto image = copy.path() / "disk.img";
  std::filesystem::copy_file(ImagePath("recovery-b.img"), image);
  const auto before = std::filesystem::file_size(image);
  auto whole = [&image] {
    std::string bytes(std::filesystem::file_size(image), '\0');
    std::ifstream in(image, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
  };
  const std::string original = whole();
  SimMachine m(DisksProfile({ImageDisk(0, image, {{L'E', 1}})}));
  std::wstring label;
  ASSERT_TRUE(os::GetVolumeInformationW(L"E:\\", &label)) << "error " << os::GetLastError();
  EXPECT_EQ(label, L"Recovery");
  const sim::DiskLayout layout = sim::ReadDiskLayout(*m, 0);
  ASSERT_TRUE(sim::FormatPartition(*m, 0, layout.entries[0].offset, layout.entries[0].length,
                                   "ntfs", L"Changed"))
      << "error " << os::GetLastError();
  ASSERT_TRUE(os::GetVolumeInformationW(L"E:\\", &label)) << "error " << os::GetLastError();
  EXPECT_EQ(label, L"Changed");
  const std::string after = whole();
  EXPECT_EQ(std::filesystem::file_size(image), before);
  EXPECT_TRUE(after == original) << "the profile's image is unchanged";
  EXPECT_NE(sim::DiskImagePath(*m, 0), image) << "reads now come through the overlay";
}

TEST(SimDrives, PartitionListForAfterJson) {
  SimMachine m(sim::DefaultProfile());
  const auto parts = sim::ListPartitions(*m, 0);
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].volume.fs, "FAT32");
  EXPECT_EQ(*parts[0].volume.label, L"SYSTEM");
  EXPECT_EQ(parts[1].volume.fs, "RAW");
  EXPECT_FALSE(parts[1].volume.label);
  EXPECT_EQ(*parts[3].volume.label, L"Recovery");
  EXPECT_EQ(parts[3].length, 20000ull << 20);
}

#ifndef _WIN32
// blkid and sfdisk read the simulator's own images as the real tools' images.
std::string RunTool(const std::string& command) {
  std::string out;
  FILE* p = ::popen(("PATH=$PATH:/usr/sbin:/sbin " + command + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), p) != nullptr) out += buffer;
  ::pclose(p);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(SimDrivesWithRealTools, BlkidAndSfdiskReadTheSimulatorsImages) {
  SimMachine m(DisksProfile(
      {LaidOutDisk(
           0, "gpt",
           {Part("fat32", L"SYSTEM", 3), Part("raw", L"", 1), Part("ntfs", L"Recovery", 2)}),
       LaidOutDisk(1, "mbr",
                   {Part("ntfs", L"A", 1), Part("fat32", L"lower", 2), Part("ntfs", L"C", 1),
                    Part("ntfs", L"Data", 3), Part("fat32", L"RECOVERY", 3)})}));
  for (int disk : {0, 1}) {
    SCOPED_TRACE(disk);
    const std::string image = sim::DiskImagePath(*m, disk).string();
    const auto parts = sim::ListPartitions(*m, disk);
    const std::string table = RunTool("sfdisk -d " + image);
    EXPECT_THAT(table, HasSubstr(disk == 0 ? "label: gpt" : "label: dos"));
    for (const auto& p : parts) {
      SCOPED_TRACE(p.number);
      EXPECT_NE(table.find("start=" + std::string(12 - std::to_string(p.offset / 512).size(), ' ') +
                           std::to_string(p.offset / 512)),
                std::string::npos)
          << table;
      const std::string label =
          RunTool("blkid -p -o value -s LABEL --offset " + std::to_string(p.offset) + " --size " +
                  std::to_string(p.length) + " " + image);
      EXPECT_EQ(label, p.volume.label ? sim::ToUtf8(*p.volume.label) : "");
    }
  }
}
#endif

}  // namespace
