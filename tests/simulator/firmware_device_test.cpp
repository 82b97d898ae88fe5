// The simulated firmware control device and its low memory, on their own: the driver checks each
// request as the real one does, so the product's queries against it prove the bytes they send.
#include "sim/devices/firmware_device.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/bytes.h"
#include "probes/firmware.h"
#include "sim/core/low_blocks.h"
#include "tests/support/firmware_bench.h"

namespace {

using testing_support::Bench;
using testing_support::Flags;
using testing_support::Notebook;
using Bytes = std::vector<std::uint8_t>;

// The simulated driver checks each request as the real one does.
class FirmwareDevice : public ::testing::Test {
 protected:
  std::uint32_t Send(int bits, std::function<void(Bytes&)> spoil, std::uint32_t outSize = 768) {
    Bench b(Notebook(bits, false, Flags(true, true, true, true)));
    const bool windows64 = bits == 64;
    std::uint8_t* low = static_cast<std::uint8_t*>(os::AllocateLow32(100));
    EXPECT_NE(low, nullptr);
    WriteFirmwareMethodArgument(std::span(low, 100), kFeatureIdIFFS);
    Bytes request(24, 0);
    request.resize(BuildFirmwareMethodRequest(
        request, windows64, kFeatureIdIFFS,
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(low))));
    spoil(request);
    if (!windows64) spoil_record_(low);
    os::UniqueHandle device(os::CreateFileW(L"\\\\.\\qoracpi", os::kGenericRead | os::kGenericWrite,
                                            0, os::kOpenExisting, 0));
    EXPECT_TRUE(device.valid()) << "error " << os::GetLastError();
    Bytes out(outSize, 0);
    std::uint32_t returned = 0;
    const bool ok = os::DeviceIoControl(device.get(), code_, request.data(),
                                        static_cast<std::uint32_t>(request.size()), out.data(),
                                        outSize, &returned);
    const std::uint32_t error = ok ? 0 : os::GetLastError();
    if (ok) {
      EXPECT_EQ(bytes::U16(out, 14), 4);
      EXPECT_EQ(bytes::U32(out, 16), sim::kFirmwareFlagSet);
    }
    return error;
  }
  std::uint32_t code_ = 0x00222404;
  std::function<void(std::uint8_t*)> spoil_record_ = [](std::uint8_t*) {};
};

TEST_F(FirmwareDevice, AcceptsTheRequestOfItsOwnWindowsOnly) {
  EXPECT_EQ(Send(64, [](Bytes&) {}), 0u);
  EXPECT_EQ(Send(32, [](Bytes&) {}), 0u);
  const struct {
    const char* name;
    std::size_t offset;
    std::uint8_t byte;
  } spoils[] = {{"request code", 0, 3},
                {"method name", 4, 'X'},
                {"argument count", 8, 2},
                {"arguments size", 12, 16}};
  for (int bits : {64, 32}) {
    for (const auto& s : spoils) {
      SCOPED_TRACE(testing::Message() << bits << "-bit, " << s.name);
      EXPECT_EQ(Send(bits, [&](Bytes& r) { r[s.offset] = s.byte; }), os::kErrorInvalidParameter);
    }
  }
  // The other Windows' form, and a wrong argument type or length in either place.
  EXPECT_EQ(Send(64, [](Bytes& r) { r.resize(20); }), os::kErrorInvalidParameter);
  EXPECT_EQ(Send(32, [](Bytes& r) { r.resize(24); }), os::kErrorInvalidParameter);
  EXPECT_EQ(Send(64, [](Bytes& r) { r[16] = 1; }), os::kErrorInvalidParameter);
  EXPECT_EQ(Send(64, [](Bytes& r) { r[18] = 8; }), os::kErrorInvalidParameter);
  spoil_record_ = [](std::uint8_t* record) { record[2] = 8; };
  EXPECT_EQ(Send(32, [](Bytes&) {}), os::kErrorInvalidParameter);
}

TEST_F(FirmwareDevice, FollowsOnlyAddressesOfLowMemory) {
  EXPECT_EQ(Send(32, [](Bytes& r) { bytes::WriteU32(r, 16, 0x00001000); }), 998u);
  EXPECT_EQ(Send(32, [](Bytes& r) { bytes::WriteU32(r, 16, 0xFFFFFFFC); }), 998u);
}

TEST_F(FirmwareDevice, RefusesOtherCodesAndTooSmallAnOutput) {
  EXPECT_EQ(Send(
                64, [](Bytes&) {}, 19),
            os::kErrorInsufficientBuffer);
  EXPECT_EQ(Send(
                64, [](Bytes&) {}, 20),
            0u);
  code_ = 0x00222400;
  EXPECT_EQ(Send(64, [](Bytes&) {}), os::kErrorInvalidFunction);
}

TEST(FirmwareDeviceName, AbsentWhenTheProfileHasNoFirmware) {
  Bench b(Notebook(64, false, std::nullopt));
  EXPECT_EQ(os::CreateFileW(L"\\\\.\\QORACPI", os::kGenericRead | os::kGenericWrite, 3,
                            os::kOpenExisting, 0),
            os::kInvalidHandle);
  EXPECT_EQ(os::GetLastError(), os::kErrorFileNotFound);
}

TEST(LowMemory, BlocksAreZeroedWritableAndBelowFourGiB) {
  for (std::size_t size : {std::size_t{1}, std::size_t{100}, std::size_t{70000}}) {
    auto* p = static_cast<std::uint8_t*>(os::AllocateLow32(size));
    ASSERT_NE(p, nullptr) << size;
    const std::uint64_t address = reinterpret_cast<std::uintptr_t>(p);
    EXPECT_LE(address + size, 0x100000000ull) << size;
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << i;
    p[size - 1] = 0x5A;
    EXPECT_TRUE(sim::IsLowMemory(address, size)) << "error " << os::GetLastError();
    EXPECT_FALSE(sim::IsLowMemory(address, size + 1)) << "error " << os::GetLastError();
  }
  EXPECT_EQ(os::AllocateLow32(0), nullptr);
}

}  // namespace
