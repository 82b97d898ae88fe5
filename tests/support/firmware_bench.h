// The firmware queries' bench, shared by the product's tests against the simulated control
// device and the tests of that device itself: a notebook with chosen flags and the run
// environment resolved from it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "probes/firmware.h"
#include "sim/devices/firmware_device.h"
#include "tests/support/run_environment_setup.h"
#include "tests/support/sim_fixture.h"

namespace testing_support {

inline sim::Profile Notebook(int bits, bool installer, std::optional<sim::Firmware> firmware) {
  sim::Profile p;
  p.windows_bits = bits;
  p.installer = installer;
  p.firmware = firmware;
  return p;
}

inline sim::Firmware Flags(bool iffs, bool raid0, bool isrt, bool diskeeper) {
  sim::Firmware f;
  f.IFFS = iffs;
  f.RAID0 = raid0;
  f.ISRT = isrt;
  f.Diskeeper = diskeeper;
  return f;
}

// A machine with the run environment's folders resolved from it.
struct Bench {
  explicit Bench(sim::Profile profile) : m(std::move(profile)) {
    testing_support::ResolvedRunEnvironment();
    // Every query closes what it opened; only an invalid mark can be left from a test before.
    EXPECT_FALSE(g_FirmwareControlDevice.handle.valid());
    g_FirmwareControlDevice.state = FirmwareControlDevice::State::kNone;
  }
  sim::Machine& machine() { return *m; }
  sim::FirmwareDeviceState& device() { return sim::FirmwareState(*m); }
  std::vector<int> QueryAll() {
    std::vector<int> results;
    for (const FirmwareFeature& f : kFirmwareFeatures) {
      results.push_back(QueryFirmwareFeature(f.nFeatureId));
    }
    return results;
  }
  // The transcript as "program|parameters|code" lines.
  std::vector<std::wstring> Runs() {
    std::vector<std::wstring> out;
    for (const auto& e : m->transcript()) {
      if (e.kind == "run")
        out.push_back(e.program + L"|" + e.parameters + L"|" + std::to_wstring(e.value));
    }
    return out;
  }
  SimMachine m;
};

}  // namespace testing_support
