// Simulated backend of the seam: memory whose address fits in 32 bits. It is real memory of
// this process, remembered in sim/core/low_blocks.h so that a simulated driver follows a 32-bit
// address only into one of them.
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/os.h"
#include "sim/core/low_blocks.h"

#if defined(_WIN64)
// The simulation on 64-bit Windows takes the pages from the system allocator, which is all it
// needs of the Windows API; the declaration stands in for the system header.
extern "C" __declspec(dllimport) void* VirtualAlloc(void* address, unsigned long long size,
                                                    unsigned long type, unsigned long protect);
#elif !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace sim {
namespace {

void* MapLow(std::size_t size) {
#if defined(_WIN64)
  constexpr unsigned long kMemCommitReserve = 0x1000 | 0x2000;
  constexpr unsigned long kPageReadWrite = 0x04;
  constexpr std::uintptr_t kStep = 0x10000;  // the allocation granularity
  for (std::uintptr_t at = kStep; at < (std::uintptr_t{1} << 32) - size; at += kStep) {
    if (void* p =
            VirtualAlloc(reinterpret_cast<void*>(at), size, kMemCommitReserve, kPageReadWrite)) {
      return p;
    }
  }
  return nullptr;
#elif defined(_WIN32)
  // Every address of a 32-bit process fits.
  return ::operator new(size, std::nothrow);
#else
#if defined(MAP_32BIT)
  void* p =
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (p != MAP_FAILED) return p;
#endif
#if defined(MAP_FIXED_NOREPLACE)
  // Without MAP_32BIT, ask for fixed places below 4 GiB that nothing else holds.
  for (std::uintptr_t at = 0x10000000; at < 0xF0000000; at += 0x01000000) {
    void* q = mmap(reinterpret_cast<void*>(at), size, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (q != MAP_FAILED) return q;
  }
#endif
  return nullptr;
#endif
}

}  // namespace

}  // namespace sim

namespace os {

void* AllocateLow32(std::size_t size) {
  if (size == 0 || size > 0x10000000) return nullptr;
  void* p = sim::MapLow(size);
  if (p == nullptr) return nullptr;
  const std::uint64_t last =
      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)) + size - 1;
  if (last > 0xFFFFFFFFull) return nullptr;
  std::memset(p, 0, size);
  sim::RememberLowBlock(p, size);
  return p;
}

}  // namespace os
