// The label readers on synthetic file systems: the cases the real tools cannot make (damaged
// geometry, loops, odd entries), each built from a sound volume with one change.
#include "probes/volume_label.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <span>

#include "platform/bytes.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::DisksProfile;
using testing_support::ImageDisk;
using testing_support::SimMachine;
using testing_support::TempDir;

constexpr std::size_t kStart = 1 << 20;  // the volume's first byte on the drive

// A small FAT32 volume: sectors of `bps` bytes (512), one sector per cluster, 32 reserved
// sectors, FATs of `spf` sectors (4: 512 entries), root directory at cluster 2, 64 KiB of data.
struct Fat32Volume {
  std::uint32_t spf, bps, reserved = 32;
  std::vector<std::uint8_t> bytes;
  std::span<std::uint8_t> all() { return bytes; }
  explicit Fat32Volume(std::uint32_t sectorsPerFat = 4, std::uint16_t bytesPerSector = 512)
      : spf(sectorsPerFat),
        bps(bytesPerSector),
        bytes(kStart + (reserved + 2 * spf) * bps + 64 * 1024, 0) {
    auto b = all();
    bytes::WriteBytes(b, kStart + 3, "MSWIN4.1", 8);
    bytes::WriteU16(b, kStart + 0x0B, bytesPerSector);
    bytes::WriteU8(b, kStart + 0x0D, 1);
    bytes::WriteU16(b, kStart + 0x0E, static_cast<std::uint16_t>(reserved));
    bytes::WriteU8(b, kStart + 0x10, 2);
    bytes::WriteU32(b, kStart + 0x24, spf);
    bytes::WriteU32(b, kStart + 0x2C, 2);
    bytes::WriteBytes(b, kStart + 0x52, "FAT32   ", 8);
    for (int copy = 0; copy < 2; ++copy) Fat(copy, 2, 0x0FFFFFFF);
  }
  void Fat(int copy, std::uint32_t cluster, std::uint32_t value) {
    bytes::WriteU32(all(), kStart + (reserved + copy * spf) * bps + cluster * 4, value);
  }
  void Chain(std::uint32_t cluster, std::uint32_t next) {
    Fat(0, cluster, next);
    Fat(1, cluster, next);
  }
  void Entry(std::uint32_t cluster, std::size_t index, const char* name11, std::uint8_t attr) {
    const std::size_t at = kStart + (reserved + 2 * spf + (cluster - 2)) * bps + index * 32;
    bytes::WriteBytes(all(), at, name11, 11);
    bytes::WriteU8(all(), at + 11, attr);
  }
};

// A small NTFS volume: 512-byte sectors, 8 per cluster, the MFT at cluster 4, records of
// 1024 bytes; record 3 holds attributes from offset 0x38.
struct NtfsVolume {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kStart + 64 * 1024, 0);
  std::size_t record = kStart + 4 * 4096 + 3 * 1024;
  std::size_t next = 0x38;
  std::span<std::uint8_t> all() { return bytes; }
  NtfsVolume() {
    auto b = all();
    bytes::WriteBytes(b, kStart + 3, "NTFS    ", 8);
    bytes::WriteU16(b, kStart + 0x0B, 512);
    bytes::WriteU8(b, kStart + 0x0D, 8);
    bytes::WriteU64(b, kStart + 0x30, 4);
    bytes::WriteU8(b, kStart + 0x40, 0xF6);
    bytes::WriteBytes(b, record, "FILE", 4);
    bytes::WriteU16(b, record + 0x14, 0x38);
  }
  // Appends an attribute of `length` bytes with a value; the value goes at 0x18.
  void Attribute(std::uint32_t type, std::uint32_t length, const std::u16string& value,
                 std::uint32_t valueLength) {
    auto b = all();
    bytes::WriteU32(b, record + next, type);
    bytes::WriteU32(b, record + next + 4, length);
    bytes::WriteU32(b, record + next + 0x10, valueLength);
    bytes::WriteU16(b, record + next + 0x14, 0x18);
    for (std::size_t i = 0; i < value.size(); ++i) {
      bytes::WriteU16(b, record + next + 0x18 + 2 * i, value[i]);
    }
    next += length;
  }
  void Name(const std::u16string& name) {
    Attribute(0x60, static_cast<std::uint32_t>((0x18 + name.size() * 2 + 7) & ~7u), name,
              static_cast<std::uint32_t>(name.size() * 2));
  }
  void End() { bytes::WriteU32(all(), record + next, 0xFFFFFFFF); }
};

struct Reading {
  std::int32_t result = -1;
  std::wstring label = L"<unset>";
};

// The label at `start` of `image`, read through physical drive 0 (whole sectors only) or,
// `asFile`, through an image file (any offset and length).
Reading ReadImage(const std::vector<std::uint8_t>& image, std::int64_t start = kStart,
                  const char* fault = nullptr, bool asFile = false) {
  TempDir dir;
  const auto path = dir.path() / "synthetic.img";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }
  SimMachine m(DisksProfile({ImageDisk(0, path)}));
  if (fault != nullptr) m->AddFault(fault);
  if (asFile) m->WriteFile(L"C:\\synthetic.img", std::string(image.begin(), image.end()), false);
  os::UniqueHandle h(os::CreateFileW(asFile ? L"C:\\synthetic.img" : L"\\\\.\\PHYSICALDRIVE0",
                                     os::kGenericRead, 3, os::kOpenExisting,
                                     os::kFileAttributeNormal));
  Reading r;
  r.result = ReadVolumeLabel(h.get(), &r.label, start);
  return r;
}

struct Fat32Case {
  const char* name;
  std::function<void(Fat32Volume&)> change;
  std::int32_t result;
  std::wstring label;
};

class Fat32Cases : public ::testing::TestWithParam<Fat32Case> {};

TEST_P(Fat32Cases, GiveTheirResultAndLabel) {
  Fat32Volume v;
  GetParam().change(v);
  const Reading r = ReadImage(v.bytes);
  EXPECT_EQ(r.result, GetParam().result);
  EXPECT_EQ(r.label, GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Synthetic, Fat32Cases,
    ::testing::Values(
        Fat32Case{"PaddedLabel", [](Fat32Volume& v) { v.Entry(2, 0, "RECOVERY   ", 0x08); }, 0,
                  L"RECOVERY"},
        Fat32Case{"InnerBlanksKept", [](Fat32Volume& v) { v.Entry(2, 0, "MY  DISK   ", 0x08); }, 0,
                  L"MY  DISK"},
        Fat32Case{"ElevenBlanksGiveOne", [](Fat32Volume& v) { v.Entry(2, 0, "           ", 0x08); },
                  0, L" "},
        Fat32Case{"EmptyName",
                  [](Fat32Volume& v) { v.Entry(2, 0, "\0\0\0\0\0\0\0\0\0\0\0", 0x08); }, 0, L""},
        Fat32Case{"AfterAZeroEntry",
                  [](Fat32Volume& v) {
                    v.Entry(2, 0, "FILE    TXT", 0x20);
                    v.Entry(2, 3, "RECOVERY   ", 0x08);
                  },
                  0, L"RECOVERY"},
        Fat32Case{"DeletedEntryNotTaken",
                  [](Fat32Volume& v) {
                    v.Entry(2, 0,
                            "\xE5"
                            "ECOVERY   ",
                            0x08);
                  },
                  4, L"<unset>"},
        Fat32Case{"DeletedThenLive",
                  [](Fat32Volume& v) {
                    v.Entry(2, 0,
                            "\xE5"
                            "LD        ",
                            0x08);
                    v.Entry(2, 1, "NEW        ", 0x08);
                  },
                  0, L"NEW"},
        Fat32Case{"ArchiveBitNotTaken", [](Fat32Volume& v) { v.Entry(2, 0, "RECOVERY   ", 0x28); },
                  4, L"<unset>"},
        Fat32Case{"LongNameNotTaken", [](Fat32Volume& v) { v.Entry(2, 0, "RECOVERY   ", 0x0F); }, 4,
                  L"<unset>"},
        Fat32Case{"OemCodePage",
                  [](Fat32Volume& v) {
                    v.Entry(2, 0,
                            "\x8E"
                            "BER       ",
                            0x08);
                  },
                  0, L"\u00C4BER"},
        Fat32Case{"SecondClusterOfTheChain",
                  [](Fat32Volume& v) {
                    v.Chain(2, 5);
                    v.Chain(5, 0x0FFFFFFF);
                    v.Entry(5, 2, "LATER      ", 0x08);
                  },
                  0, L"LATER"},
        Fat32Case{"ChainIsReadFromTheSecondFat",
                  [](Fat32Volume& v) {
                    v.Fat(1, 2, 5);
                    v.Entry(5, 0, "SECOND     ", 0x08);
                  },
                  0, L"SECOND"},
        Fat32Case{"FirstFatIsNotRead",
                  [](Fat32Volume& v) {
                    v.Fat(0, 2, 5);
                    v.Entry(5, 0, "FIRST      ", 0x08);
                  },
                  4, L"<unset>"},
        Fat32Case{"TopBitsAreNotMasked",
                  [](Fat32Volume& v) {
                    v.Chain(2, 0x10000005);
                    v.Entry(5, 0, "MASKED     ", 0x08);
                  },
                  4, L"<unset>"},
        Fat32Case{"LoopingChainEnds",
                  [](Fat32Volume& v) {
                    v.Chain(2, 3);
                    v.Chain(3, 2);
                  },
                  4, L"<unset>"},
        Fat32Case{"SelfLoopEnds", [](Fat32Volume& v) { v.Chain(2, 2); }, 4, L"<unset>"},
        Fat32Case{"ChainLeavingTheTableEnds", [](Fat32Volume& v) { v.Chain(2, 512); }, 4,
                  L"<unset>"},
        Fat32Case{"RootBeyondTheTable",
                  [](Fat32Volume& v) { bytes::WriteU32(v.all(), kStart + 0x2C, 600); }, 4,
                  L"<unset>"},
        Fat32Case{"RootClusterZero",
                  [](Fat32Volume& v) { bytes::WriteU32(v.all(), kStart + 0x2C, 0); }, 4,
                  L"<unset>"},
        Fat32Case{"BytesPerSectorZero",
                  [](Fat32Volume& v) {
                    v.Entry(2, 0, "RECOVERY   ", 0x08);
                    bytes::WriteU16(v.all(), kStart + 0x0B, 0);
                  },
                  4, L"<unset>"},
        Fat32Case{"SectorsPerClusterZero",
                  [](Fat32Volume& v) {
                    v.Entry(2, 0, "RECOVERY   ", 0x08);
                    bytes::WriteU8(v.all(), kStart + 0x0D, 0);
                  },
                  4, L"<unset>"},
        Fat32Case{"FatSizeZero", [](Fat32Volume& v) { bytes::WriteU32(v.all(), kStart + 0x24, 0); },
                  5, L"<unset>"},
        Fat32Case{"FatLargerThanTheFormatAllows",
                  // One sector more than 2^28 entries of 4 bytes: refused before any read.
                  [](Fat32Volume& v) { bytes::WriteU32(v.all(), kStart + 0x24, 0x00200001); }, 5,
                  L"<unset>"},
        Fat32Case{"FatBeyondTheDrive",
                  [](Fat32Volume& v) { bytes::WriteU16(v.all(), kStart + 0x0E, 0xFFFF); }, 5,
                  L"<unset>"},
        Fat32Case{"FatPositionBeyond32Bits",
                  [](Fat32Volume& v) {
                    // (65535 + 16) x 65535 just passes 2^32; the table itself is 1 MiB.
                    bytes::WriteU16(v.all(), kStart + 0x0B, 0xFFFF);
                    bytes::WriteU32(v.all(), kStart + 0x24, 16);
                    bytes::WriteU16(v.all(), kStart + 0x0E, 0xFFFF);
                  },
                  5, L"<unset>"}),
    [](const ::testing::TestParamInfo<Fat32Case>& info) { return std::string(info.param.name); });

// The table is read a piece at a time: chains that hop between pieces of a 512 KiB table
// (clusters 100000 and 20000 lie beyond the data, so they read empty and the walk goes on).
TEST(Fat32LargeTable, ChainsAcrossPiecesOfTheTableGiveTheWholeTablesResult) {
  struct Hop {
    std::uint32_t from, to;
  };
  const struct {
    const char* name;
    std::vector<Hop> chain;
    std::int32_t result;
    std::wstring label;
  } cases[] = {
      {"forward, back, then near",
       {{2, 100000}, {100000, 20000}, {20000, 7}, {7, 0x0FFFFFFF}},
       0,
       L"FAR"},
      {"a loop through a far piece", {{2, 100000}, {100000, 2}}, 4, L"<unset>"},
      {"into the table's last entry", {{2, 131071}, {131071, 7}, {7, 0x0FFFFFFF}}, 0, L"FAR"},
  };
  for (const auto& c : cases) {
    Fat32Volume v(1024);
    for (const Hop& hop : c.chain) v.Chain(hop.from, hop.to);
    v.Entry(7, 0, "FAR        ", 0x08);
    const Reading r = ReadImage(v.bytes);
    EXPECT_EQ(r.result, c.result) << c.name;
    EXPECT_EQ(r.label, c.label) << c.name;
  }
}

// 514-byte sectors: a piece of the table of whole sectors alone (127, 65278 bytes) would cut
// entry 16319 in two; pieces of whole entries as well read it whole. Only an image file reads
// such sectors: through a drive they are not whole sectors, and the read fails.
TEST(Fat32LargeTable, SectorsOfSizeNotAMultipleOfFourKeepEachEntryInOnePiece) {
  Fat32Volume v(256, 514);
  v.Chain(2, 16319);
  v.Chain(16319, 7);
  v.Chain(7, 0x0FFFFFFF);
  v.Entry(7, 0, "ODD        ", 0x08);
  const Reading r = ReadImage(v.bytes, kStart, nullptr, true);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.label, L"ODD");
  EXPECT_EQ(ReadImage(v.bytes).result, 5);
}

struct NtfsCase {
  const char* name;
  std::function<void(NtfsVolume&)> change;
  std::int32_t result;
  std::wstring label;
};

class NtfsCases : public ::testing::TestWithParam<NtfsCase> {};

TEST_P(NtfsCases, GiveTheirResultAndLabel) {
  NtfsVolume v;
  GetParam().change(v);
  const Reading r = ReadImage(v.bytes);
  EXPECT_EQ(r.result, GetParam().result);
  EXPECT_EQ(r.label, GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Synthetic, NtfsCases,
    ::testing::Values(
        NtfsCase{"SixteenBytesGiveEightCharacters",
                 [](NtfsVolume& v) {
                   v.Name(u"Recovery");
                   v.End();
                 },
                 0, L"Recovery"},
        NtfsCase{"AfterOtherAttributes",
                 [](NtfsVolume& v) {
                   v.Attribute(0x10, 0x48, u"", 0x30);
                   v.Attribute(0x50, 0x80, u"", 0x64);
                   v.Name(u"recovery");
                   v.End();
                 },
                 0, L"recovery"},
        NtfsCase{"EmptyName",
                 [](NtfsVolume& v) {
                   v.Name(u"");
                   v.End();
                 },
                 0, L""},
        NtfsCase{"ValueIsAlwaysAt0x18",
                 [](NtfsVolume& v) {
                   v.Name(u"Recovery");
                   bytes::WriteU16(v.all(), v.record + 0x38 + 0x14, 0x40);  // ignored
                   v.End();
                 },
                 0, L"Recovery"},
        NtfsCase{"NameEndsAtAZeroCharacter",
                 [](NtfsVolume& v) {
                   v.Attribute(0x60, 0x30, std::u16string(u"Rec\0very", 8), 16);
                   v.End();
                 },
                 0, L"Rec"},
        NtfsCase{"OddValueLength",
                 [](NtfsVolume& v) {
                   v.Attribute(0x60, 0x30, u"Recovery", 17);
                   v.End();
                 },
                 0, L"Recovery"},
        NtfsCase{"EndBeforeTheName",
                 [](NtfsVolume& v) {
                   v.End();
                   v.next += 4;
                   v.Name(u"Recovery");
                 },
                 4, L"<unset>"},
        NtfsCase{"AttributeLengthZero",
                 [](NtfsVolume& v) {
                   v.Attribute(0x10, 0, u"", 0);
                   v.next = 0x40;
                   v.Name(u"Recovery");
                 },
                 4, L"<unset>"},
        NtfsCase{"WalkPastTheRecord", [](NtfsVolume& v) { v.Attribute(0x10, 0x4000, u"", 0); }, 4,
                 L"<unset>"},
        NtfsCase{"LengthThatWouldWrap",
                 [](NtfsVolume& v) { v.Attribute(0x10, 0xFFFFFFF0u, u"", 0); }, 4, L"<unset>"},
        NtfsCase{"FirstAttributeBeyondTheRecord",
                 [](NtfsVolume& v) { bytes::WriteU16(v.all(), v.record + 0x14, 0xFFF0); }, 4,
                 L"<unset>"},
        NtfsCase{"ValueLongerThanTheRecordIsCut",
                 [](NtfsVolume& v) {
                   v.next = 1024 - 0x20;
                   v.Attribute(0x60, 0x20, u"AB", 0x7FFFFFFF);
                   bytes::WriteU16(v.all(), v.record + 0x14,
                                   static_cast<std::uint16_t>(1024 - 0x20));
                 },
                 0, L"AB"},
        NtfsCase{"ValueLongerThanTheNameBufferIsCut",
                 [](NtfsVolume& v) {
                   bytes::WriteU8(v.all(), kStart + 0x40, 0xF4);  // 4096-byte records
                   v.record = kStart + 4 * 4096 + 3 * 4096;
                   bytes::WriteU16(v.all(), v.record + 0x14, 0x38);
                   v.Attribute(0x60, 0xC00, std::u16string(1500, u'x'), 3000);
                 },
                 0, std::wstring(511, L'x')},
        NtfsCase{"RecordSizeFromClusters",
                 [](NtfsVolume& v) {
                   bytes::WriteU32(v.all(), kStart + 0x40, 1);  // one 4096-byte cluster
                   v.record = kStart + 4 * 4096 + 3 * 4096;
                   bytes::WriteU16(v.all(), v.record + 0x14, 0x38);
                   v.Name(u"Cluster");
                   v.End();
                 },
                 0, L"Cluster"},
        NtfsCase{"AbsurdRecordSize",
                 [](NtfsVolume& v) {
                   v.Name(u"Recovery");
                   bytes::WriteU8(v.all(), kStart + 0x40, 0x80);  // 2^128 bytes
                 },
                 4, L"<unset>"},
        NtfsCase{"BytesPerSectorZero",
                 [](NtfsVolume& v) {
                   v.Name(u"Recovery");
                   bytes::WriteU16(v.all(), kStart + 0x0B, 0);
                 },
                 4, L"<unset>"},
        NtfsCase{"SectorsPerClusterZero",
                 [](NtfsVolume& v) {
                   v.Name(u"Recovery");
                   bytes::WriteU8(v.all(), kStart + 0x0D, 0);
                 },
                 4, L"<unset>"},
        NtfsCase{
            "MftBeyondAnyDrive",
            [](NtfsVolume& v) { bytes::WriteU64(v.all(), kStart + 0x30, 0x7FFFFFFFFFFFFFFFull); },
            5, L"<unset>"},
        NtfsCase{"BitLockerMarkWins",
                 [](NtfsVolume& v) {
                   v.Name(u"Recovery");
                   v.End();
                   bytes::WriteBytes(v.all(), kStart + 3, "-FVE-FS-", 8);
                 },
                 4, L"<unset>"},
        NtfsCase{"NeitherFileSystem",
                 [](NtfsVolume& v) { bytes::WriteBytes(v.all(), kStart + 3, "EXFAT   ", 8); }, 4,
                 L"<unset>"}),
    [](const ::testing::TestParamInfo<NtfsCase>& info) { return std::string(info.param.name); });

TEST(VolumeLabel, MissingHandleOrBufferGivesOne) {
  std::wstring label;
  EXPECT_EQ(ReadVolumeLabel(os::kInvalidHandle, &label, 0), 1);
  EXPECT_EQ(ReadVolumeLabel(0, &label, 0), 1);
  NtfsVolume v;
  TempDir dir;
  const auto path = dir.path() / "v.img";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(v.bytes.data()),
             static_cast<std::streamsize>(v.bytes.size()));
  SimMachine m(DisksProfile({ImageDisk(0, path)}));
  os::UniqueHandle h(
      os::CreateFileW(L"\\\\.\\PHYSICALDRIVE0", os::kGenericRead, 3, os::kOpenExisting, 0x80));
  EXPECT_EQ(ReadVolumeLabel(h.get(), nullptr, kStart), 1);
}

TEST(VolumeLabel, FailedReadsGiveFive) {
  Fat32Volume fat;
  fat.Entry(2, 0, "RECOVERY   ", 0x08);
  EXPECT_EQ(ReadImage(fat.bytes, kStart, "ReadFile:0").result, 5);
  EXPECT_EQ(ReadImage(fat.bytes, kStart + 1).result, 5) << "not at a sector: the device refuses";
  NtfsVolume ntfs;
  ntfs.Name(u"Recovery");
  ntfs.End();
  EXPECT_EQ(ReadImage(ntfs.bytes, kStart, "ReadFile:0").result, 5);
}

TEST(VolumeLabel, ComparisonFoldsOnlyAsciiLetters) {
  EXPECT_TRUE(EqualsIgnoringCase(L"RECOVERY", L"Recovery"));
  EXPECT_TRUE(EqualsIgnoringCase(L"recovery", L"Recovery"));
  EXPECT_FALSE(EqualsIgnoringCase(L"Recovery ", L"Recovery"));
  EXPECT_FALSE(EqualsIgnoringCase(L"\u00C4", L"\u00E4"));
  EXPECT_FALSE(EqualsIgnoringCase(L"[", L"{"));  // '[' + 32 is '{', but neither is a letter
}

}  // namespace
