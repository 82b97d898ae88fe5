// Shared by the fuzz targets that need the seam: one simulated machine for the whole fuzzing
// process, and a device object whose bytes and answers the target sets for each input.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/core/machine.h"
#include "sim/core/text.h"
#include "sim/harness/notebook.h"

namespace fuzzing {

// A property every input must keep; a broken one names the target and stops the process, so
// libFuzzer keeps the input that broke it.
inline void Check(bool ok, const char* target, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

// A device that reads from `image` (a read past its end gives fewer bytes, like a file) and
// answers every control request through `ioctl`.
struct MemoryDevice : sim::Machine::Object {
  const std::vector<std::uint8_t>* image = nullptr;
  std::function<bool(std::uint32_t code, void* out, std::uint32_t outSize,
                     std::uint32_t* returned)>* ioctl = nullptr;
  std::uint64_t position = 0;

  bool Seek(std::int64_t offset, std::uint32_t method, std::uint32_t* error) override {
    if (method != os::kFileBegin || offset < 0) {
      *error = os::kErrorInvalidParameter;
      return false;
    }
    position = static_cast<std::uint64_t>(offset);
    return true;
  }
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read, std::uint32_t*) override {
    *read = 0;
    if (image == nullptr || position >= image->size()) return true;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, image->size() - position));
    std::memcpy(buffer, image->data() + position, n);
    *read = static_cast<std::uint32_t>(n);
    position += n;
    return true;
  }
  bool Ioctl(std::uint32_t code, const void*, std::uint32_t, void* out, std::uint32_t outSize,
             std::uint32_t* returned, std::uint32_t* error) override {
    *returned = 0;
    if (ioctl == nullptr || !*ioctl || !(*ioctl)(code, out, outSize, returned)) {
      *error = os::kErrorGenFailure;
      return false;
    }
    return true;
  }
};

// The process's machine: a profile without disks or firmware, so that the devices a target
// registers answer the names it gives them. Its folder is removed when the process ends.
class FuzzMachine {
 public:
  explicit FuzzMachine(sim::Profile profile = BareProfile()) {
    root_ =
        std::filesystem::temp_directory_path() / ("cachesetup-fuzz-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    machine_ = std::make_unique<sim::Notebook>(std::move(profile), root_);
  }
  ~FuzzMachine() {
    machine_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;

  sim::Machine& machine() { return *machine_; }

  // Devices named exactly `name` (letter case ignored) open as a MemoryDevice over `image`.
  void AddDevice(const std::wstring& name, const std::vector<std::uint8_t>* image,
                 std::function<bool(std::uint32_t, void*, std::uint32_t, std::uint32_t*)>* ioctl) {
    const std::wstring upper = sim::UpperPath(name);
    machine_->RegisterDevice(
        [upper, image, ioctl](sim::Machine&, const std::wstring& n, std::uint32_t, std::uint32_t,
                              std::uint32_t*) -> std::unique_ptr<sim::Machine::Object> {
          if (sim::UpperPath(n) != upper) return nullptr;
          auto device = std::make_unique<MemoryDevice>();
          device->image = image;
          device->ioctl = ioctl;
          return device;
        });
  }

  static sim::Profile BareProfile() {
    sim::Profile p;
    p.firmware.reset();
    p.disks.clear();
    return p;
  }

 private:
  std::filesystem::path root_;
  std::unique_ptr<sim::Machine> machine_;
};

// The bytes of a checked-in seed file (the targets that need a fixed disk image use these).
inline std::vector<std::uint8_t> SeedBytes(const std::string& relative) {
  std::vector<std::uint8_t> bytes;
  const std::filesystem::path path = std::filesystem::path(CS_SOURCE_DIR) / relative;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "fuzz: cannot open %s\n", path.c_str());
    std::abort();
  }
  std::uint8_t buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

}  // namespace fuzzing
