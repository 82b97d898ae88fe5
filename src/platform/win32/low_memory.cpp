// Windows backend of the seam: memory whose address fits in 32 bits.
#include <windows.h>

#include "platform/os.h"

namespace os {

void* AllocateLow32(std::size_t size) {
  if (size == 0) return nullptr;
#if defined(_WIN64)
  // A 64-bit process (the test build) asks for the lowest free range at or above 64 KiB.
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const std::uintptr_t step =
      info.dwAllocationGranularity != 0 ? info.dwAllocationGranularity : 0x10000;
  const std::uintptr_t limit = std::uintptr_t{1} << 32;
  for (std::uintptr_t at = step; at < limit && size <= limit - at; at += step) {
    MEMORY_BASIC_INFORMATION region;
    if (::VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof(region)) == 0) break;
    if (region.State != MEM_FREE || region.RegionSize < size) {
      // Skip the whole region, rounded up to the next allocation boundary.
      const std::uintptr_t end =
          reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
      if (end > at) at = ((end + step - 1) / step) * step - step;
      continue;
    }
    void* p =
        ::VirtualAlloc(reinterpret_cast<void*>(at), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p != nullptr) return p;
  }
  return nullptr;
#else
  // Every address of a 32-bit process fits.
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#endif
}

}  // namespace os
