// The drive roots ("C:\", "D:\", ...) and their volumes, walked the same way by the locator and
// the capture.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"

// The roots GetLogicalDriveStringsW lists, asked once more with the size it names when the
// first buffer (room for all 26 letters) is too small; what does not arrive is not listed.
// nullopt when the list query fails.
std::optional<std::vector<std::wstring>> ListDriveRoots();

// Opens the volume of a root ("D:\" opens "\\.\D:") for reading and queries, shared with every
// other opener. kInvalidHandle on failure.
os::RawHandle OpenRootVolume(const std::wstring& root);
