// The blocks of memory os::AllocateLow32 has handed out. They are real memory of this process;
// the list lets a simulated driver follow a 32-bit address only into one of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// Adds [block, block + size) to the list.
void RememberLowBlock(const void* block, std::size_t size);

// Whether [address, address + length) lies in a block handed out by os::AllocateLow32.
bool IsLowMemory(std::uint64_t address, std::size_t length);

}  // namespace sim
