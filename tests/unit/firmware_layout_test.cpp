// The firmware method call's bytes: the argument, the request in both forms, and the copy
// rules for the returned argument.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "probes/firmware.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Request(bool windows64, std::uint32_t id, std::uint32_t address, std::size_t room = 24) {
  Bytes buffer(room, 0xCC);
  const std::size_t n = BuildFirmwareMethodRequest(buffer, windows64, id, address);
  buffer.resize(n);
  return buffer;
}

TEST(FirmwareRequest, SixtyFourBitFormCarriesTheArgumentInline) {
  EXPECT_EQ(Request(true, kFeatureIdIFFS, 0xDEADBEEF),
            (Bytes{0x02, 0x00, 0x00, 0x00, 'D',  'S',  'T',  'S',  0x01, 0x00, 0x00, 0x00,
                   0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x41, 0x00, 0x08, 0x00}));
}

TEST(FirmwareRequest, ThirtyTwoBitFormEndsInTheArgumentsAddress) {
  EXPECT_EQ(Request(false, kFeatureIdDiskeeper, 0x12345678),
            (Bytes{0x02, 0x00, 0x00, 0x00, 'D',  'S',  'T',  'S',  0x01, 0x00,
                   0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12}));
}

TEST(FirmwareRequest, BothFormsShareTheirFirstSixteenBytesForEveryFeature) {
  for (const FirmwareFeature& f : kFirmwareFeatures) {
    SCOPED_TRACE(testing::Message() << std::hex << f.nFeatureId);
    const Bytes wide = Request(true, f.nFeatureId, 0);
    const Bytes narrow = Request(false, f.nFeatureId, 0x00400000);
    ASSERT_EQ(wide.size(), 24u);
    ASSERT_EQ(narrow.size(), 20u);
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 16), Bytes(narrow.begin(), narrow.begin() + 16));
    Bytes argument(8, 0xCC);
    ASSERT_TRUE(WriteFirmwareMethodArgument(argument, f.nFeatureId));
    EXPECT_EQ(Bytes(wide.begin() + 16, wide.end()), argument);
  }
}

TEST(FirmwareRequest, TooSmallABufferGetsNothing) {
  Bytes buffer(23, 0xCC);
  EXPECT_EQ(BuildFirmwareMethodRequest(buffer, true, kFeatureIdISRT, 0), 0u);
  EXPECT_EQ(buffer, Bytes(23, 0xCC));
  buffer.assign(19, 0xCC);
  EXPECT_EQ(BuildFirmwareMethodRequest(buffer, false, kFeatureIdISRT, 0), 0u);
  EXPECT_EQ(buffer, Bytes(19, 0xCC));
  EXPECT_EQ(Request(false, kFeatureIdISRT, 1, 20).size(), 20u);  // exactly enough
  Bytes record(7, 0xCC);
  EXPECT_FALSE(WriteFirmwareMethodArgument(record, kFeatureIdISRT));
  EXPECT_EQ(record, Bytes(7, 0xCC));
}

TEST(FirmwareFeatureTable, FourIdsInTheOrderOfTheQueries) {
  ASSERT_EQ(std::size(kFirmwareFeatures), 4u);
  const std::uint32_t ids[] = {0x00080041, 0x00080042, 0x00080043, 0x00080044};
  const wchar_t* names[] = {L"bIsSupportIFFS", L"bIsSupportRAID0", L"bIsSupportISRT",
                            L"bIsSupportDiskeeper"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(kFirmwareFeatures[i].nFeatureId, ids[i]) << i;
    EXPECT_EQ(std::wstring(kFirmwareFeatures[i].szLogName), names[i]) << i;
  }
}

// A result buffer whose returned argument has data length `length`, data bytes 0x10, 0x11, ...
// and the given first data word.
Bytes Result(std::uint16_t length, std::uint32_t word) {
  Bytes r(firmware_request::kResultSize, 0);
  for (std::size_t i = 0; i < 12; ++i) r[i] = 0xEE;  // header, never read
  r[12] = 0x07;                                      // type: copied, not tested
  r[13] = 0x00;
  r[14] = static_cast<std::uint8_t>(length);
  r[15] = static_cast<std::uint8_t>(length >> 8);
  for (std::size_t i = 16; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i - 6);
  for (std::size_t i = 0; i < 4; ++i) r[16 + i] = static_cast<std::uint8_t>(word >> (8 * i));
  return r;
}

struct CopyCase {
  std::uint16_t length;
  std::size_t copied;  // bytes that land in the record
  bool gives_word;     // the value is the word at offset 16
};

TEST(FirmwareResult, CopyRulesByReturnedDataLength) {
  const CopyCase cases[] = {{0, 8, true},    {1, 8, true},   {2, 8, true},    {3, 8, true},
                            {4, 8, true},    {5, 9, true},   {50, 54, true},  {95, 99, true},
                            {96, 100, true}, {97, 0, false}, {768, 0, false}, {0xFFFF, 0, false}};
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "data length " << c.length);
    const Bytes result = Result(c.length, 0x00010000);
    // The record sits between guard bytes that must survive every answer.
    Bytes space(64 + firmware_request::kArgumentStorageSize + 64, 0xAB);
    std::span<std::uint8_t> record(space.data() + 64, firmware_request::kArgumentStorageSize);
    const std::uint32_t value = TakeFirmwareMethodResult(result, record);
    EXPECT_EQ(value, c.gives_word ? 0x00010000u : 0u);
    for (std::size_t i = 0; i < space.size(); ++i) {
      const bool inCopy = i >= 64 && i < 64 + c.copied;
      const std::uint8_t expected = inCopy ? result[12 + (i - 64)] : 0xAB;
      ASSERT_EQ(space[i], expected) << "byte " << i;
    }
  }
}

TEST(FirmwareResult, EveryDataLengthStaysInsideBothBuffers) {
  Bytes space(32 + firmware_request::kArgumentStorageSize + 32, 0xAB);
  std::span<std::uint8_t> record(space.data() + 32, firmware_request::kArgumentStorageSize);
  Bytes result = Result(0, 0xFFFFFFFF);
  for (std::uint32_t length = 0; length <= 0xFFFF; ++length) {
    result[14] = static_cast<std::uint8_t>(length);
    result[15] = static_cast<std::uint8_t>(length >> 8);
    const std::uint32_t value = TakeFirmwareMethodResult(result, record);
    ASSERT_EQ(value, length <= 96 ? 0xFFFFFFFFu : 0u) << length;
  }
  for (std::size_t i = 0; i < 32; ++i) {
    ASSERT_EQ(space[i], 0xAB) << i;
    ASSERT_EQ(space[space.size() - 1 - i], 0xAB) << i;
  }
}

TEST(FirmwareResult, ShortBuffersGiveZeroAndWriteNothing) {
  // A result cut short before the copy ends, and a record smaller than the copy.
  const Bytes full = Result(96, 0x00010000);
  Bytes record(firmware_request::kArgumentStorageSize, 0xAB);
  EXPECT_EQ(TakeFirmwareMethodResult(std::span(full).first(111), record), 0u);
  EXPECT_EQ(TakeFirmwareMethodResult(std::span(full).first(15), record), 0u);
  EXPECT_EQ(record, Bytes(firmware_request::kArgumentStorageSize, 0xAB));
  Bytes small(99, 0xAB);
  EXPECT_EQ(TakeFirmwareMethodResult(full, small), 0u);
  EXPECT_EQ(small, Bytes(99, 0xAB));
  EXPECT_EQ(TakeFirmwareMethodResult(std::span(full).first(112), record), 0x00010000u);
}

}  // namespace
