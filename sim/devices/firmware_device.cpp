#include "sim/devices/firmware_device.h"

#include <array>
#include <cstring>
#include <memory>
#include <span>

#include "platform/bytes.h"
#include "sim/core/low_blocks.h"
#include "sim/core/text.h"
#include "sim/devices/windows_codes.h"

namespace sim {

namespace {

constexpr std::uint32_t kRequestCode = 2;
constexpr std::uint32_t kMethodDsts = 0x53545344;  // "DSTS"
constexpr std::uint32_t kResultSignature = 0x426F6541;
constexpr std::size_t kArgumentSize = 8;
constexpr std::size_t kResultMinimum = 20;  // header, type, length and one data word

bool IsDeviceName(const std::wstring& name) { return UpperPath(name) == L"\\\\.\\QORACPI"; }

std::uint32_t ProfileAnswer(const Machine& m, std::uint32_t featureId) {
  const Firmware& f = *m.profile().firmware;
  bool set = false;
  switch (featureId) {
    case 0x00080041:
      set = f.IFFS;
      break;
    case 0x00080042:
      set = f.RAID0;
      break;
    case 0x00080043:
      set = f.ISRT;
      break;
    case 0x00080044:
      set = f.Diskeeper;
      break;
    default:
      break;
  }
  return set ? kFirmwareFlagSet : 0;
}

// Checks the request as the driver does and takes the argument from it (inline on 64-bit
// Windows, through its 32-bit address on 32-bit Windows). Returns 0 or the error.
std::uint32_t ReadRequest(const Machine& m, std::span<const std::uint8_t> in, FirmwareCall* call) {
  const bool windows64 = m.profile().windows_bits == 64;
  if (in.size() != (windows64 ? 24u : 20u)) return os::kErrorInvalidParameter;
  if (bytes::U32(in, 0) != kRequestCode || bytes::U32(in, 4) != kMethodDsts ||
      bytes::U32(in, 8) != 1 || bytes::U32(in, 12) != kArgumentSize) {
    return os::kErrorInvalidParameter;
  }
  std::array<std::uint8_t, kArgumentSize> argument{};
  if (windows64) {
    std::memcpy(argument.data(), in.data() + 16, kArgumentSize);
  } else {
    call->argument_address = bytes::U32(in, 16);
    // The real driver probes the caller's memory; here only blocks known to be ours are read.
    if (!IsLowMemory(call->argument_address, kArgumentSize)) return kErrorNoAccess;
    std::memcpy(argument.data(),
                reinterpret_cast<const void*>(static_cast<std::uintptr_t>(call->argument_address)),
                kArgumentSize);
  }
  call->argument.assign(argument.begin(), argument.end());
  if (bytes::U16(argument, 0) != 0 || bytes::U16(argument, 2) != 4) {
    return os::kErrorInvalidParameter;
  }
  return 0;
}

// Lays the answer out in the result layout, cut to the output buffer.
std::uint32_t WriteResult(const FirmwareAnswer& answer, std::span<std::uint8_t> out) {
  std::vector<std::uint8_t> image(16, 0);
  bytes::WriteU32(image, 0, kResultSignature);
  bytes::WriteU32(image, 8, 1);  // one returned argument
  bytes::WriteU16(image, 12, answer.type);
  bytes::WriteU16(image, 14, answer.data_length);
  if (answer.data.empty()) {
    image.resize(20);
    bytes::WriteU32(image, 16, answer.value);
  } else {
    image.insert(image.end(), answer.data.begin(), answer.data.end());
  }
  bytes::WriteU32(image, 4, static_cast<std::uint32_t>(image.size()));
  const std::size_t n = image.size() < out.size() ? image.size() : out.size();
  if (n != 0) std::memcpy(out.data(), image.data(), n);
  return static_cast<std::uint32_t>(n);
}

struct FirmwareDeviceObject : Machine::Object {
  Machine* machine = nullptr;

  bool Ioctl(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
             std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) override {
    Machine& m = *machine;
    FirmwareDeviceState& state = FirmwareState(m);
    *returned = 0;
    FirmwareCall call;
    call.code = code;
    call.out_size = outSize;
    std::span<const std::uint8_t> input;
    if (in != nullptr) input = {static_cast<const std::uint8_t*>(in), inSize};
    call.request.assign(input.begin(), input.end());
    std::span<std::uint8_t> output;
    if (out != nullptr) output = {static_cast<std::uint8_t*>(out), outSize};

    if (code != kIoctlFirmwareMethod) {
      call.error = os::kErrorInvalidFunction;
    } else if (in == nullptr && inSize != 0) {
      call.error = kErrorNoAccess;
    } else {
      call.error = ReadRequest(m, input, &call);
    }
    if (call.error == 0 && output.size() < kResultMinimum) {
      call.error = os::kErrorInsufficientBuffer;
    }

    if (call.error == 0) {
      FirmwareAnswer answer;
      if (state.answer) {
        answer = *state.answer;
      } else {
        answer.value = ProfileAnswer(m, bytes::U32(call.argument, 4));
      }
      if (m.Faulted("DeviceIoControl", "FirmwareMethod")) {
        call.error = os::kErrorGenFailure;
      } else if (answer.fail) {
        call.error = os::kErrorGenFailure;
        if (answer.write_on_failure) WriteResult(answer, output);
      } else {
        *returned = WriteResult(answer, output);
      }
    }
    *error = call.error;
    state.calls.push_back(std::move(call));
    return *error == 0;
  }
};

}  // namespace

void SetUpFirmwareDevice(Machine& machine) {
  machine.RegisterDevice([](Machine& m, const std::wstring& name, std::uint32_t access,
                            std::uint32_t share,
                            std::uint32_t* error) -> std::unique_ptr<Machine::Object> {
    if (!IsDeviceName(name)) return nullptr;
    FirmwareDeviceState& state = FirmwareState(m);
    if (!m.profile().firmware) {
      *error = os::kErrorFileNotFound;
      return nullptr;
    }
    if (state.open_error != 0) {
      *error = state.open_error;
      return nullptr;
    }
    ++state.opens;
    state.open_access = access;
    state.open_share = share;
    auto object = std::make_unique<FirmwareDeviceObject>();
    object->machine = &m;
    return object;
  });
}

}  // namespace sim
