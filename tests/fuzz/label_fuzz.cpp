// ReadVolumeLabel over an arbitrary partition image: the input is the partition's bytes from
// its boot sector on, served by a drive whose reads end where the input ends. Whatever the
// bytes, the reader gives one of its result codes and a label that fits the caller's buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "probes/volume_label.h"
#include "tests/support/fuzz_machine.h"

namespace {

const wchar_t kDriveName[] = L"\\\\.\\FUZZDRIVE";
std::vector<std::uint8_t> g_image;

fuzzing::FuzzMachine& Machine() {
  static fuzzing::FuzzMachine machine;
  static const bool added = (machine.AddDevice(kDriveName, &g_image, nullptr), true);
  (void)added;
  return machine;
}

void Check(bool ok, const char* what) { fuzzing::Check(ok, "label_fuzz", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Machine();
  g_image.assign(data, data + size);
  os::UniqueHandle drive(os::CreateFileW(kDriveName, os::kGenericRead, os::kFileShareRead,
                                         os::kOpenExisting, os::kFileAttributeNormal));
  Check(drive.valid(), "the drive does not open");

  std::wstring label = L"<before>";
  const std::int32_t result = ReadVolumeLabel(drive.get(), &label, 0);
  Check(result == kLocatorFound || result == kLocatorNotFound || result == kLocatorFailed,
        "a result code outside 0, 4, 5");
  Check(label.size() < kLabelBufferChars, "a label longer than the caller's buffer");
  if (result != kLocatorFound) Check(label == L"<before>", "a label written without success");

  // The readers on their own, whatever the boot sector names.
  std::wstring ntfs, fat;
  const std::int32_t ntfsResult = ReadNtfsVolumeLabel(drive.get(), &ntfs, 0);
  const std::int32_t fatResult = ReadFat32VolumeLabel(drive.get(), &fat, 0);
  Check(ntfsResult == 0 || ntfsResult == 4 || ntfsResult == 5, "NTFS result code");
  Check(fatResult == 0 || fatResult == 4 || fatResult == 5, "FAT32 result code");
  Check(ntfs.size() < kLabelBufferChars && fat.size() < kLabelBufferChars, "label length");

  // At an offset inside the input, and at one far past any drive.
  if (size > 512) {
    std::wstring shifted;
    ReadVolumeLabel(drive.get(), &shifted, 512);
  }
  std::wstring far;
  Check(ReadVolumeLabel(drive.get(), &far, INT64_MAX - 100) != kLocatorFound, "label past the end");
  return 0;
}
