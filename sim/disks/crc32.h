// The CRC-32 of GPT headers and entry arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n);

}  // namespace sim
