// The simulated drive's SMART answers on their own: it answers only a well-formed IDENTIFY and a
// whole version query, so the media rotation probe's tests prove the bytes the probe sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os.h"
#include "probes/control_codes.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::OneDrive;
using testing_support::Rate;
using testing_support::SimMachine;

TEST(SimSmart, DriveRejectsMalformedIdentifyBlocks) {
  SimMachine m(OneDrive(0, Rate(1)));
  const os::RawHandle h =
      os::CreateFileW(L"\\\\.\\PHYSICALDRIVE0", os::kGenericRead | os::kGenericWrite,
                      os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0);
  ASSERT_NE(h, os::kInvalidHandle);
  os::UniqueHandle drive(h);
  std::vector<std::uint8_t> good(32, 0);
  good[0x04] = 0xD0;
  good[0x05] = 1;
  good[0x06] = 1;
  good[0x09] = 0xA0;
  good[0x0A] = 0xEC;
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
    std::uint32_t inSize;
    std::uint32_t outSize;
  };
  const Case cases[] = {
      {"well formed", 0, 0, 32, 528},
      {"slave device 0xB0", 0x09, 0xB0, 32, 528},
      {"command 0xEC missing", 0x0A, 0xB0, 32, 528},
      {"features", 0x04, 0, 32, 528},
      {"sector count", 0x05, 0, 32, 528},
      {"sector number", 0x06, 0, 32, 528},
      {"cylinder low", 0x07, 0x4F, 32, 528},
      {"cylinder high", 0x08, 0xC2, 32, 528},
      {"buffer size", 0x00, 0x01, 32, 528},
      {"drive number", 0x0C, 1, 32, 528},
      {"input too short", 0, 0, 31, 528},
      {"output too short", 0, 0, 32, 527},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> in = good;
    if (c.offset != 0 || c.value != 0) in[c.offset] = c.value;
    std::vector<std::uint8_t> out(528, 0xCC);
    std::uint32_t returned = 0xDEADBEEF;
    const bool ok = os::DeviceIoControl(drive.get(), control_codes::kSmartRcvDriveData, in.data(),
                                        c.inSize, out.data(), c.outSize, &returned);
    const bool wellFormed = std::string(c.what) == "well formed";
    EXPECT_EQ(ok, wellFormed);
    if (wellFormed) {
      EXPECT_EQ(returned, 528u);
      EXPECT_EQ(out[450], 1);  // word 217, low byte
      EXPECT_EQ(out[451], 0);
      EXPECT_EQ(out[16], 0x40);  // word 0: fixed device
    } else {
      EXPECT_EQ(os::GetLastError(), os::kErrorInvalidParameter);
      EXPECT_EQ(returned, 0u);
    }
  }
}

TEST(SimSmart, VersionQueryNeedsItsWholeBuffer) {
  SimMachine m(OneDrive(2, Rate(1)));
  os::UniqueHandle drive(os::CreateFileW(
      L"\\\\.\\PhysicalDrive2", os::kGenericRead | os::kGenericWrite, 0, os::kOpenExisting, 0));
  ASSERT_TRUE(drive) << "error " << os::GetLastError();
  std::vector<std::uint8_t> out(24, 0xCC);
  std::uint32_t returned = 0;
  EXPECT_FALSE(os::DeviceIoControl(drive.get(), control_codes::kSmartGetVersion, nullptr, 0,
                                   out.data(), 23, &returned))
      << "error " << os::GetLastError();
  EXPECT_EQ(os::GetLastError(), os::kErrorInsufficientBuffer);
  ASSERT_TRUE(os::DeviceIoControl(drive.get(), control_codes::kSmartGetVersion, nullptr, 0,
                                  out.data(), 24, &returned))
      << "error " << os::GetLastError();
  EXPECT_EQ(returned, 24u);
  EXPECT_EQ(out[0], 1);        // bVersion
  EXPECT_EQ(out[3], 1u << 2);  // bIDEDeviceMap: drive 2
  EXPECT_EQ(out[4], 5);        // CAP_ATA_ID_CMD | CAP_SMART_CMD
}

}  // namespace
