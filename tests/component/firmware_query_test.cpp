// The firmware feature queries against the simulated control device and service installer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "environment/run_environment.h"
#include "platform/bytes.h"
#include "probes/firmware.h"
#include "sim/core/low_blocks.h"
#include "sim/devices/firmware_device.h"
#include "tests/support/firmware_bench.h"
#include "tests/support/run_environment_setup.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::Bench;
using testing_support::Flags;
using testing_support::Notebook;
using testing_support::SimMachine;
using Bytes = std::vector<std::uint8_t>;

const std::wstring kInstaller = L"C:\\Windows\\system32\\InstQORWMIACPISrv64.exe";

class FirmwareOnEachWindows : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Bits, FirmwareOnEachWindows, ::testing::Values(64, 32),
                         [](const auto& info) { return std::to_string(info.param) + "bit"; });

TEST_P(FirmwareOnEachWindows, ProfileFlagsComeBackInTableOrder) {
  Bench b(Notebook(GetParam(), false, Flags(true, false, true, false)));
  EXPECT_EQ(b.QueryAll(), (std::vector<int>{1, 0, 1, 0}));
  ASSERT_EQ(b.device().calls.size(), 4u);
  const std::uint32_t ids[] = {0x00080041, 0x00080042, 0x00080043, 0x00080044};
  for (std::size_t i = 0; i < 4; ++i) {
    const sim::FirmwareCall& call = b.device().calls[i];
    EXPECT_EQ(call.error, 0u) << i;
    EXPECT_EQ(bytes::U32(call.argument, 4), ids[i]) << i;
  }
  Bench other(Notebook(GetParam(), false, Flags(false, true, false, true)));
  EXPECT_EQ(other.QueryAll(), (std::vector<int>{0, 1, 0, 1}));
}

TEST_P(FirmwareOnEachWindows, RequestHasTheFormOfTheSimulatedWindows) {
  const bool windows64 = GetParam() == 64;
  Bench b(Notebook(GetParam(), false, Flags(false, false, true, false)));
  EXPECT_EQ(QueryFirmwareFeature(kFeatureIdISRT), 1);
  EXPECT_EQ(g_bFirmwareOn64BitWindows, windows64);
  ASSERT_EQ(b.device().calls.size(), 1u);
  const sim::FirmwareCall& call = b.device().calls[0];
  EXPECT_EQ(call.code, 0x00222404u);
  EXPECT_EQ(call.out_size, 768u);
  const Bytes head = {0x02, 0, 0, 0, 'D', 'S', 'T', 'S', 0x01, 0, 0, 0, 0x08, 0, 0, 0};
  ASSERT_EQ(call.request.size(), windows64 ? 24u : 20u);
  EXPECT_EQ(Bytes(call.request.begin(), call.request.begin() + 16), head);
  // Inline, or read by the device through the 32-bit address: type 0, length 4, the id.
  EXPECT_EQ(call.argument, (Bytes{0x00, 0x00, 0x04, 0x00, 0x43, 0x00, 0x08, 0x00}));
  if (!windows64) {
    EXPECT_NE(call.argument_address, 0u);
    EXPECT_EQ(bytes::U32(call.request, 16), call.argument_address);
    EXPECT_TRUE(sim::IsLowMemory(call.argument_address, 100)) << "error " << os::GetLastError();
  }
  EXPECT_EQ(b.device().open_access, os::kGenericRead | os::kGenericWrite);
  EXPECT_EQ(b.device().open_share, os::kFileShareRead | os::kFileShareWrite);
}

TEST_P(FirmwareOnEachWindows, NoDeviceGivesZeroAndTheInstallerStillRunsBeforeEachQuery) {
  Bench b(Notebook(GetParam(), true, std::nullopt));
  EXPECT_EQ(b.QueryAll(), (std::vector<int>{0, 0, 0, 0}));
  const std::wstring line = kInstaller + L"|-i check|0";
  EXPECT_EQ(b.Runs(), (std::vector<std::wstring>{line, line, line, line}));
  EXPECT_THAT(b.device().calls, testing::IsEmpty());
  EXPECT_EQ(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kInvalid);
  EXPECT_EQ(b.machine().open_handles(), 0u);
}

TEST_P(FirmwareOnEachWindows, InstallerRunsBeforeTheDeviceIsOpened) {
  Bench b(Notebook(GetParam(), true, Flags(true, true, true, true)));
  std::vector<int> opensSeenByInstaller;
  b.machine().RegisterProgram(
      kInstaller,
      [&](sim::Machine& m, const std::wstring&, const std::wstring& dir) -> std::uint32_t {
        EXPECT_EQ(dir, L"C:\\Windows\\system32");
        opensSeenByInstaller.push_back(sim::FirmwareState(m).opens);
        EXPECT_NE(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kOpen);
        return 0;
      });
  EXPECT_EQ(b.QueryAll(), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(opensSeenByInstaller, (std::vector<int>{0, 1, 2, 3}));
}

TEST_P(FirmwareOnEachWindows, HandleIsNoneAfterEachQueryAndTheNextOpensAgain) {
  Bench b(Notebook(GetParam(), false, Flags(true, false, false, false)));
  for (int i = 0; i < 4; ++i) {
    QueryFirmwareFeature(kFirmwareFeatures[i].nFeatureId);
    EXPECT_EQ(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kNone) << i;
    EXPECT_FALSE(g_FirmwareControlDevice.handle.valid()) << i;
    EXPECT_EQ(b.device().opens, i + 1);
    EXPECT_EQ(b.machine().open_handles(), 0u) << "device left open after query " << i;
  }
}

TEST(FirmwareQuery, OnlyBitSixteenCounts) {
  const struct {
    std::uint32_t value;
    int expected;
  } cases[] = {{0x00010000, 1}, {0xFFFEFFFF, 0}, {0xFFFFFFFF, 1}, {0x00000000, 0},
               {0x00000001, 0}, {0x00020000, 0}, {0x00010001, 1}, {0x80008000, 0}};
  Bench b(Notebook(64, false, Flags(false, false, false, false)));
  for (const auto& c : cases) {
    sim::FirmwareAnswer answer;
    answer.value = c.value;
    b.device().answer = answer;
    EXPECT_EQ(QueryFirmwareFeature(kFeatureIdRAID0), c.expected) << std::hex << c.value;
  }
}

// The returned data length decides what is taken; the device may claim any length.
TEST(FirmwareQuery, ReturnedDataLengths) {
  const struct {
    std::uint16_t length;
    std::size_t data_bytes;  // bytes the device writes from offset 16
    std::uint32_t value;     // what the method call hands back
  } cases[] = {{0, 0, 0x00010000}, {1, 4, 0x00010000},   {4, 4, 0x00010000},
               {5, 5, 0x00010000}, {96, 96, 0x00010000}, {97, 97, 0},
               {200, 752, 0},      {0xFFFF, 800, 0},     {96, 800, 0x00010000}};
  for (int bits : {64, 32}) {
    Bench b(Notebook(bits, false, Flags(false, false, false, false)));
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << bits << "-bit, length " << c.length);
      sim::FirmwareAnswer answer;
      answer.data_length = c.length;
      answer.value = 0x00010000;
      answer.data.assign(c.data_bytes, 0xFF);
      if (c.data_bytes >= 4) {
        answer.data[0] = 0x00;
        answer.data[1] = 0x00;
        answer.data[2] = 0x01;
        answer.data[3] = 0x00;
      }
      b.device().answer = answer;
      ASSERT_TRUE(OpenFirmwareControlDevice()) << "error " << os::GetLastError();
      std::uint32_t value = 0xDEADBEEF;
      EXPECT_TRUE(CallFirmwareMethod(kFeatureIdIFFS, &value))
          << "value " << value << ", error " << os::GetLastError();
      EXPECT_EQ(value, c.value);
      g_FirmwareControlDevice.handle.reset();
      g_FirmwareControlDevice.state = FirmwareControlDevice::State::kNone;
      EXPECT_EQ(QueryFirmwareFeature(kFeatureIdIFFS), c.value != 0 ? 1 : 0);
    }
  }
}

TEST(FirmwareQuery, FailedCallCountsAsAbsentWhateverTheOutputHolds) {
  Bench b(Notebook(64, false, Flags(true, true, true, true)));
  sim::FirmwareAnswer answer;
  answer.fail = true;
  answer.write_on_failure = true;
  answer.value = 0xFFFFFFFF;
  b.device().answer = answer;
  EXPECT_EQ(b.QueryAll(), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(b.device().calls.size(), 4u);
  EXPECT_EQ(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kNone);
  EXPECT_EQ(b.machine().open_handles(), 0u);
}

TEST(FirmwareQuery, ProfileFaultFailsTheMethodCall) {
  sim::Profile p = Notebook(32, false, Flags(true, true, true, true));
  p.faults = {"DeviceIoControl:FirmwareMethod"};
  Bench b(std::move(p));
  EXPECT_EQ(b.QueryAll(), (std::vector<int>{0, 0, 0, 0}));
  ASSERT_EQ(b.device().calls.size(), 4u);
  EXPECT_EQ(b.device().calls[0].error, os::kErrorGenFailure);
  EXPECT_EQ(b.machine().open_handles(), 0u);
}

TEST(FirmwareQuery, RefusedOpenMakesNoCallAndLeavesTheHandleInvalid) {
  Bench b(Notebook(64, false, Flags(true, true, true, true)));
  b.device().open_error = os::kErrorAccessDenied;
  EXPECT_EQ(QueryFirmwareFeature(kFeatureIdIFFS), 0);
  EXPECT_EQ(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kInvalid);
  EXPECT_THAT(b.device().calls, testing::IsEmpty());
  std::uint32_t value = 0xDEADBEEF;
  EXPECT_FALSE(CallFirmwareMethod(kFeatureIdIFFS, &value))
      << "value " << value << ", error " << os::GetLastError();
  EXPECT_EQ(value, 0xDEADBEEFu) << "value written without a device";
  // The next query opens again and overwrites the invalid handle.
  b.device().open_error = 0;
  EXPECT_EQ(QueryFirmwareFeature(kFeatureIdIFFS), 1);
  EXPECT_EQ(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kNone);
}

TEST(FirmwareQuery, CallWithoutAnOpenDeviceLeavesTheValueAlone) {
  Bench b(Notebook(64, false, Flags(true, true, true, true)));
  g_FirmwareControlDevice.state = FirmwareControlDevice::State::kNone;
  std::uint32_t value = 0xDEADBEEF;
  EXPECT_FALSE(CallFirmwareMethod(kFeatureIdIFFS, &value))
      << "value " << value << ", error " << os::GetLastError();
  EXPECT_EQ(value, 0xDEADBEEFu);
  EXPECT_THAT(b.device().calls, testing::IsEmpty());
}

// Whatever happens to the installer, the answers and the device calls stay the same; only
// the transcript tells the cases apart.
TEST(FirmwareQuery, InstallerOutcomesChangeOnlyTheTranscript) {
  struct Case {
    const char* name;
    bool installer;
    std::function<void(sim::Machine&)> arrange;
    std::wstring line;  // the transcript line of each query; empty: none
  };
  const Case cases[] = {
      {"absent", false, [](sim::Machine&) {}, L""},
      {"present", true, [](sim::Machine&) {}, kInstaller + L"|-i check|0"},
      {"fails", true,
       [](sim::Machine& m) {
         m.RegisterProgram(kInstaller,
                           [](sim::Machine&, const std::wstring&,
                              const std::wstring&) -> std::uint32_t { return 1603; });
       },
       kInstaller + L"|-i check|1603"},
      {"cannot start", true, [](sim::Machine& m) { m.AddFault("ShellExecuteExW"); },
       kInstaller + L"|-i check|5"},
      {"file without a program", false,
       [](sim::Machine& m) { m.WriteFile(kInstaller, "MZ", false); }, kInstaller + L"|-i check|2"},
  };
  for (int bits : {64, 32}) {
    std::vector<Bytes> baseline;
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << bits << "-bit, installer " << c.name);
      Bench b(Notebook(bits, c.installer, Flags(true, false, true, true)));
      c.arrange(b.machine());
      EXPECT_EQ(b.QueryAll(), (std::vector<int>{1, 0, 1, 1}));
      std::vector<Bytes> arguments;
      for (const auto& call : b.device().calls) arguments.push_back(call.argument);
      if (baseline.empty()) baseline = arguments;
      EXPECT_EQ(arguments, baseline);
      const std::vector<std::wstring> expected =
          c.line.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>(4, c.line);
      EXPECT_EQ(b.Runs(), expected);
      EXPECT_EQ(b.machine().open_handles(), 0u);
    }
  }
}

}  // namespace
