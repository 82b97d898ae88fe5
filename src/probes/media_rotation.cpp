#include "probes/media_rotation.h"

#include <array>
#include <string>

#include "platform/os.h"
#include "probes/control_codes.h"
#include "probes/smart_identify.h"
#include "textout/format.h"

namespace {

using namespace smart_identify;

// The error code as a 32-bit signed number, which is what %ld shows on Windows.
long ErrorNumber(std::uint32_t error) {
  return static_cast<long>(static_cast<std::int32_t>(error));
}

void PrintError(const wchar_t* format, std::uint32_t error) {
  os::PrintStdout(textout::Format(format, ErrorNumber(error)));
}

}  // namespace

MediaRotationReading ReadMediaRotation(int driveNumber) {
  MediaRotationReading reading;
  const std::wstring path = textout::Format(L"\\\\.\\PhysicalDrive%d", driveNumber);
  os::UniqueHandle drive(os::CreateFileW(path, os::kGenericRead | os::kGenericWrite,
                                         os::kFileShareRead | os::kFileShareWrite,
                                         os::kOpenExisting, 0));
  if (!drive) {
    reading.failedStep = MediaRotationReading::Step::kOpen;
    reading.error = os::GetLastError();
    return reading;
  }

  std::array<std::uint8_t, kGetVersionSize> version{};
  std::uint32_t returned = 0;
  if (!os::DeviceIoControl(drive.get(), control_codes::kSmartGetVersion, nullptr, 0, version.data(),
                           kGetVersionSize, &returned)) {
    reading.failedStep = MediaRotationReading::Step::kVersion;
    reading.error = os::GetLastError();
    return reading;
  }

  const std::array<std::uint8_t, kSendCmdInSize> command = IdentifyCommandBlock();
  std::array<std::uint8_t, kSendCmdOutSize> identify{};
  if (!os::DeviceIoControl(drive.get(), control_codes::kSmartRcvDriveData, command.data(),
                           kSendCmdInSize, identify.data(), kSendCmdOutSize, &returned)) {
    reading.failedStep = MediaRotationReading::Step::kIdentify;
    reading.error = os::GetLastError();
    return reading;
  }
  reading.rate = IdentifyRotationRate(identify);
  return reading;
}

int ProbeMediaRotation(int driveNumber) {
  const MediaRotationReading reading = ReadMediaRotation(driveNumber);
  switch (reading.failedStep) {
    case MediaRotationReading::Step::kOpen:
      PrintError(L"CreateFile Error: %ld\n", reading.error);
      return 0;
    case MediaRotationReading::Step::kVersion:
      PrintError(L"DeviceIoControl Error: %ld\n", reading.error);
      return 0;
    case MediaRotationReading::Step::kIdentify:
      PrintError(L"SMART_RCV_DRIVE_DATA Error: %ld\n", reading.error);
      return -1;
    case MediaRotationReading::Step::kNone:
      break;
  }

  const std::uint16_t rate = reading.rate;
  os::PrintStdout(textout::Format(L"%d RPM\n", static_cast<int>(rate)));
  if (rate == 0) {
    os::PrintStdout(L"Rate not reported\n");
    return 0;
  }
  if (rate == 1) {
    os::PrintStdout(L"SSD Device\n");
    return 1;
  }
  if (rate >= 0x0401 && rate <= 0xFFFE) os::PrintStdout(L"HDD Device\n");
  // 2 to 0x400 and 0xFFFF are reserved: nothing more to say.
  return 0;
}
