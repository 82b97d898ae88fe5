#include "app/disk_roles.h"

#include <gtest/gtest.h>

#include "tests/support/records.h"

namespace {

using testing_support::Disk;

const std::wstring kFixed = L"Fixed hard disk media";

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
    SCOPED_TRACE(testing_support::Printable(c.media) + "|");
    EXPECT_EQ(IsFixedDisk(Disk(0, c.media)), c.fixed);
    all.push_back(Disk(0, c.media));
    expectedCount += c.fixed ? 1 : 0;
  }
  EXPECT_EQ(CountFixedDisks(all), expectedCount);
  EXPECT_EQ(CountFixedDisks({}), 0);
  EXPECT_EQ(CountFixedDisks({Disk(0, kFixed), Disk(1, L"Removable Media"), Disk(2, kFixed)}), 2);
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
