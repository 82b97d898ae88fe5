#include "probes/media_rotation.h"

#include <gtest/gtest.h>

#include <vector>

#include "probes/control_codes.h"
#include "sim/core/text.h"
#include "sim/devices/disk_probes.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"

using testing_support::OneDrive;
using testing_support::Rate;
using testing_support::SimMachine;

namespace {

sim::Rotation Kind(sim::Rotation::Kind kind) { return sim::Rotation{kind, 0}; }

std::string Console(sim::Machine& m) { return sim::ToUtf8(m.console()); }

struct RateCase {
  std::uint16_t rate;
  const char* output;
  int result;
};

TEST(MediaRotation, RateDecidesTheResultAndTheMessages) {
  const RateCase cases[] = {
      {0, "0 RPM\nRate not reported\n", 0},
      {1, "1 RPM\nSSD Device\n", 1},
      {2, "2 RPM\n", 0},
      {1024, "1024 RPM\n", 0},
      {1025, "1025 RPM\nHDD Device\n", 0},
      {5400, "5400 RPM\nHDD Device\n", 0},
      {7200, "7200 RPM\nHDD Device\n", 0},
      {65534, "65534 RPM\nHDD Device\n", 0},
      {65535, "65535 RPM\n", 0},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.rate);
    SimMachine m(OneDrive(0, Rate(c.rate)));
    EXPECT_EQ(ProbeMediaRotation(0), c.result);
    EXPECT_EQ(Console(*m), c.output);
    EXPECT_EQ(m->open_handles(), 0u);
    const std::vector<std::wstring> asked = {L"SMART_GET_VERSION 0", L"SMART_RCV_DRIVE_DATA 0"};
    EXPECT_EQ(sim::DiskProbes(*m).trace, asked);
  }
}

struct FailureCase {
  const char* what;
  sim::Rotation rotation;
  int probedDrive;
  const char* output;
  int result;
  std::size_t requests;  // SMART requests that reached the drive
};

TEST(MediaRotation, FailuresPrintTheLastErrorCloseTheDriveAndGiveTheirResult) {
  const FailureCase cases[] = {
      {"no such drive", Rate(1), 3, "CreateFile Error: 2\n", 0, 0},
      {"drive refuses read-write open", Kind(sim::Rotation::Kind::NoOpen), 0,
       "CreateFile Error: 5\n", 0, 0},
      {"SMART version refused", Kind(sim::Rotation::Kind::NoSmart), 0, "DeviceIoControl Error: 1\n",
       0, 1},
      {"IDENTIFY refused", Kind(sim::Rotation::Kind::IdentifyFails), 0,
       "SMART_RCV_DRIVE_DATA Error: 1117\n", -1, 2},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimMachine m(OneDrive(0, c.rotation));
    EXPECT_EQ(ProbeMediaRotation(c.probedDrive), c.result);
    EXPECT_EQ(Console(*m), c.output);
    EXPECT_EQ(m->open_handles(), 0u);
    EXPECT_EQ(sim::DiskProbes(*m).trace.size(), c.requests);
  }
}

TEST(MediaRotation, IdentifyBlockIsTheSameForEveryDriveNumber) {
  // cBufferSize 0; features 0xD0, count 1, number 1, cylinders 0, drive/head 0xA0, command
  // 0xEC; drive number and every reserved byte 0.
  const std::vector<std::uint8_t> expected = {0x00, 0x00, 0x00, 0x00, 0xD0, 0x01, 0x01, 0x00,
                                              0x00, 0xA0, 0xEC, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (int drive : {0, 1, 2, 7, 15, 31, 99}) {
    SCOPED_TRACE(drive);
    SimMachine m(OneDrive(drive, Rate(1)));
    EXPECT_EQ(ProbeMediaRotation(drive), 1);
    const auto& requests = sim::DiskProbes(*m).identify_requests;
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].drive, drive);
    EXPECT_EQ(requests[0].block, expected);
  }
}

TEST(MediaRotation, OnlyTheDriveOfTheNumberIsAsked) {
  sim::Profile p = OneDrive(0, Rate(5400));
  sim::Disk ssd;
  ssd.drive = 1;
  ssd.rotation = Rate(1);
  p.disks.push_back(ssd);
  SimMachine m(std::move(p));
  EXPECT_EQ(ProbeMediaRotation(1), 1);
  EXPECT_EQ(ProbeMediaRotation(0), 0);
  EXPECT_EQ(Console(*m), "1 RPM\nSSD Device\n5400 RPM\nHDD Device\n");
  EXPECT_EQ(m->open_handles(), 0u);
}

}  // namespace
