// The label readers and the locator against the real Windows API (under Wine): labels read
// through CreateFileW on image files made on the build host. The structures the locator reads
// are pinned to windows.h in windows_definitions_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <fstream>
#include <sstream>

#include "platform/os.h"
#include "probes/recovery_locator.h"
#include "tests/support/win32_support.h"

namespace {

std::string ImageFile(const std::string& name) {
  return std::string(CS_BINARY_DIR) + "/images/" + name;
}

// Partition offsets and blkid's labels recorded on the host when the images were made.
std::vector<std::pair<long long, std::string>> Manifest(const std::string& image) {
  std::vector<std::pair<long long, std::string>> out;
  const std::string text =
      win32_support::ReadBytes(win32_support::HostPath(ImageFile(image + ".blkid")));
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string offset, size, label;
    std::getline(fields, offset, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, label);
    out.emplace_back(std::stoll(offset), label);
  }
  return out;
}

TEST(Win32VolumeLabel, RealImagesReadThroughCreateFileWGiveTheHostsLabels) {
  struct Case {
    const char* image;
    std::size_t index;
    std::int32_t result;
  };
  const Case cases[] = {{"fat32-alone.img", 0, 0}, {"ntfs-alone.img", 0, 0},
                        {"gpt-labels.img", 0, 0},  {"gpt-labels.img", 2, 0},
                        {"gpt-labels.img", 3, 0},  {"mbr-extended.img", 2, 0},
                        {"bitlocker.img", 0, 4},   {"fat32-large.img", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image << " " << c.index);
    const auto manifest = Manifest(c.image);
    ASSERT_GT(manifest.size(), c.index) << "images missing: tests/make-images.sh did not run";
    os::UniqueHandle file(os::CreateFileW(
        win32_support::HostPath(ImageFile(c.image)), os::kGenericRead,
        os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, os::kFileAttributeNormal));
    ASSERT_TRUE(file) << ::GetLastError();
    std::wstring label = L"<unset>";
    EXPECT_EQ(ReadVolumeLabel(file.get(), &label, manifest[c.index].first), c.result);
    if (c.result == 0) {
      EXPECT_EQ(win32_support::Narrow(label), manifest[c.index].second);
    }
  }
}

TEST(Win32VolumeLabel, OemCodePageConversionIsTheSystems) {
  // CP_OEMCP on an English Windows (and Wine's default) is 437: 0x8E is A with diaeresis.
  EXPECT_EQ(os::MultiByteToWideChar(os::kCpOemcp, std::string("\x8E"
                                                              "BER")),
            L"\u00C4BER");
}

TEST(Win32RecoveryLocator, WineHasNoRecoveryVolumeAndTheSearchEndsCleanly) {
  // Wine lists its own drives (C: and Z:), none labelled "Recovery": the root search ends
  // with 4 and an empty root.
  std::wstring root = L"<unset>";
  EXPECT_EQ(FindRecoveryDriveRoot(0, &root, 1 << 20), 4);
  EXPECT_EQ(root, L"");
  std::vector<wchar_t> roots;
  const std::uint32_t length = os::GetLogicalDriveStringsW(105, &roots);
  EXPECT_GT(length, 0u);
  EXPECT_EQ(length % 4, 0u) << "roots of four characters each";
}

TEST(Win32RecoveryLocator, WithoutPhysicalDrivesTheWalkEndsAtDriveZero) {
  std::int32_t disk = -7, partition = -7;
  std::wstring root = L"<unset>";
  const std::int32_t result = LocateRecoveryDisk(&disk, &partition, &root);
  // Wine opens no "\\.\PHYSICALDRIVE0" backed by a disk with a "Recovery" partition.
  EXPECT_NE(result, 0);
  EXPECT_EQ(partition, 0);
  if (result == 4) {
    EXPECT_EQ(disk, 0);
  }
  std::printf("Wine: LocateRecoveryDisk gave %d, disk %d\n", static_cast<int>(result),
              static_cast<int>(disk));
}

}  // namespace
