#include "probes/drive_roots.h"

#include <cstddef>
#include <cstdint>

namespace {

// Drive roots are "X:\" plus a terminator; room for all 26 letters and the list's end.
constexpr std::uint32_t kRootChars = 4;
constexpr std::uint32_t kRootListChars = kRootChars * 26 + 1;

}  // namespace

std::optional<std::vector<std::wstring>> ListDriveRoots() {
  std::vector<wchar_t> list;
  std::uint32_t length = os::GetLogicalDriveStringsW(kRootListChars, &list);
  if (length == 0) return std::nullopt;
  if (length > kRootListChars) {
    // More than the buffer holds (the call returns the size it needs): ask once more with
    // that size.
    length = os::GetLogicalDriveStringsW(length, &list);
    if (length == 0) return std::nullopt;
  }
  // Roots are taken four characters at a time, only while they lie inside both the length
  // returned and the characters actually written.
  std::vector<std::wstring> roots;
  const std::size_t end = length < list.size() ? length : list.size();
  for (std::size_t at = 0; at + 3 <= end; at += kRootChars) {
    roots.emplace_back(list.data() + at, 3);
  }
  return roots;
}

os::RawHandle OpenRootVolume(const std::wstring& root) {
  if (root.size() < 2) return os::kInvalidHandle;
  std::wstring volume = L"\\\\.\\C:";
  volume[4] = root[0];
  volume[5] = root[1];
  return os::CreateFileW(volume, os::kGenericRead,
                         os::kFileShareRead | os::kFileShareWrite | os::kFileShareDelete,
                         os::kOpenExisting, os::kFileAttributeNormal);
}
