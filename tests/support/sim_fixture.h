// A simulated machine in a fresh temporary folder, for tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "sim/core/machine.h"
#include "sim/harness/notebook.h"
#include "sim/profile/profile.h"

namespace testing_support {

// A fresh, empty folder under the system's temporary folder, removed again at the end.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "cachesetup-test-";
    if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
      if (c == '/' || c == '\\' || c == ':') c = '_';
    }
    // The start time keeps the name fresh even where an earlier run could not remove its
    // folder (under Wine, folders with paths beyond 260 characters are left behind).
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000000;
    path_ = std::filesystem::temp_directory_path() /
            (name + "-" + std::to_string(counter++) + "-" + std::to_string(stamp));
    Remove(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { Remove(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  static void Remove(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }

  std::filesystem::path path_;
};

// A machine with its own folder; the machine is destroyed before the folder.
struct SimMachine {
  explicit SimMachine(sim::Profile profile = sim::Profile{})
      : machine(std::make_unique<sim::Notebook>(std::move(profile), dir.path())) {}
  sim::Machine& operator*() { return *machine; }
  sim::Machine* operator->() { return machine.get(); }

  TempDir dir;
  std::unique_ptr<sim::Machine> machine;
};

// The bytes of a file of the simulated namespace, or "<missing>".
inline std::string FileBytes(sim::Machine& m, const std::wstring& path) {
  auto bytes = m.ReadFile(path);
  return bytes ? *bytes : std::string("<missing>");
}

}  // namespace testing_support
