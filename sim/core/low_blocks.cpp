#include "sim/core/low_blocks.h"

#include <mutex>
#include <utility>
#include <vector>

namespace sim {

namespace {

std::mutex g_blocks_lock;
std::vector<std::pair<std::uintptr_t, std::size_t>> g_blocks;

}  // namespace

void RememberLowBlock(const void* block, std::size_t size) {
  std::lock_guard<std::mutex> guard(g_blocks_lock);
  g_blocks.emplace_back(reinterpret_cast<std::uintptr_t>(block), size);
}

bool IsLowMemory(std::uint64_t address, std::size_t length) {
  std::lock_guard<std::mutex> guard(g_blocks_lock);
  for (const auto& [base, size] : g_blocks) {
    if (address >= base && address - base <= size && length <= size - (address - base)) {
      return true;
    }
  }
  return false;
}

}  // namespace sim
