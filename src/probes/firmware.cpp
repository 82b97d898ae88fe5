// The firmware feature queries: installer check, device open, one method call, device close.
#include "probes/firmware.h"

#include <array>

#include "environment/run_environment.h"
#include "probes/control_codes.h"
#include "textout/format.h"
#include "tools/process_runner.h"

FirmwareControlDevice g_FirmwareControlDevice;
bool g_bFirmwareOn64BitWindows = false;

namespace {

// The driver of 32-bit Windows reads the argument record through a 32-bit address, so the
// record lives in memory below 4 GiB, taken once for the life of the process.
std::span<std::uint8_t> ArgumentRecordStorage() {
  static std::uint8_t* const storage =
      static_cast<std::uint8_t*>(os::AllocateLow32(firmware_request::kArgumentStorageSize));
  if (storage == nullptr) return {};
  return {storage, firmware_request::kArgumentStorageSize};
}

bool AddressFits32(const void* p) {
  // Two half shifts: a whole 32-bit shift is undefined where pointers have 32 bits.
  return (reinterpret_cast<std::uintptr_t>(p) >> 16 >> 16) == 0;
}

bool IsWow64() {
  const os::ModuleHandle kernel32 = os::GetModuleHandleW(L"kernel32");
  if (kernel32 == 0) return false;
  const os::ProcAddress isWow64Process = os::GetProcAddress(kernel32, "IsWow64Process");
  if (isWow64Process == 0) return false;
  bool answer = false;
  if (!os::CallIsWow64Process(isWow64Process, &answer)) return false;
  return answer;
}

}  // namespace

bool OpenFirmwareControlDevice() {
  g_bFirmwareOn64BitWindows = IsWow64();
  g_FirmwareControlDevice.handle.reset(
      os::CreateFileW(kFirmwareControlDeviceName, os::kGenericRead | os::kGenericWrite,
                      os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting, 0));
  const bool open = g_FirmwareControlDevice.handle.valid();
  g_FirmwareControlDevice.state =
      open ? FirmwareControlDevice::State::kOpen : FirmwareControlDevice::State::kInvalid;
  return open;
}

bool CallFirmwareMethod(std::uint32_t featureId, std::uint32_t* value) {
  if (g_FirmwareControlDevice.state != FirmwareControlDevice::State::kOpen) return false;

  // Without low storage only the inline form can be sent; the record then lives here.
  std::array<std::uint8_t, firmware_request::kArgumentStorageSize> localRecord{};
  std::span<std::uint8_t> record = ArgumentRecordStorage();
  const bool lowRecord = !record.empty() && AddressFits32(record.data());
  if (!lowRecord) record = localRecord;
  WriteFirmwareMethodArgument(record, featureId);

  std::array<std::uint8_t, firmware_request::kRequestSize64> request{};
  std::uint32_t address = 0;
  if (!g_bFirmwareOn64BitWindows) {
    if (!lowRecord) return false;  // no address the driver could follow
    address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record.data()));
  }
  const std::size_t requestSize =
      BuildFirmwareMethodRequest(request, g_bFirmwareOn64BitWindows, featureId, address);

  // Zeroed, so that what a failed call leaves behind reads as an empty answer.
  std::array<std::uint8_t, firmware_request::kResultSize> result{};
  std::uint32_t returned = 0;  // not looked at: the data length in the answer counts
  const bool ok =
      os::DeviceIoControl(g_FirmwareControlDevice.handle.get(), control_codes::kFirmwareMethod,
                          request.data(), static_cast<std::uint32_t>(requestSize), result.data(),
                          static_cast<std::uint32_t>(result.size()), &returned);
  *value = TakeFirmwareMethodResult(result, record);
  return ok;
}

FirmwareReading ReadFirmwareFeature(std::uint32_t featureId, std::uint32_t* value) {
  const std::wstring installer = FirmwareInstallerPath();
  // The installer's exit code, and whether it started at all, change nothing.
  if (os::FindFirstFileW(installer)) RunProgram(installer, L"-i check");

  if (!OpenFirmwareControlDevice()) return FirmwareReading::kNoDevice;
  const bool ok = CallFirmwareMethod(featureId, value);
  if (g_FirmwareControlDevice.state == FirmwareControlDevice::State::kOpen) {
    g_FirmwareControlDevice.handle.reset();
    g_FirmwareControlDevice.state = FirmwareControlDevice::State::kNone;
  }
  return ok ? FirmwareReading::kAnswered : FirmwareReading::kCallFailed;
}

int QueryFirmwareFeature(std::uint32_t featureId) {
  std::uint32_t value = 0;
  const FirmwareReading reading = ReadFirmwareFeature(featureId, &value);
  return FirmwareFeatureFlag(reading, value);
}

int FirmwareFeatureFlag(FirmwareReading reading, std::uint32_t value) {
  if (reading != FirmwareReading::kAnswered) return 0;
  return static_cast<int>((value >> 16) & 1u);
}

std::wstring FirmwareInstallerPath() {
  return textout::Format(L"%ls\\InstQORWMIACPISrv64.exe", g_RunEnvironment.szSystemDir.c_str());
}
