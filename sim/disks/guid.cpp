#include "sim/disks/guid.h"

#include <string>

#include "textout/format.h"

namespace sim {

Guid StableGuid(int disk, std::uint32_t slot, std::uint8_t purpose) {
  Guid g{};
  std::uint32_t x =
      0x9E3779B9u * static_cast<std::uint32_t>(disk + 1) + slot * 0x85EBCA6Bu + purpose;
  for (std::size_t i = 0; i < g.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    g[i] = static_cast<std::uint8_t>(x);
  }
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);  // version 4
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);
  return g;
}

Guid ParseGuid(const std::string& text) {
  Guid g{};
  std::uint8_t raw[16] = {};
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < text.size() && n < 16;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    raw[n++] = static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16));
    i += 2;
  }
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g[static_cast<std::size_t>(i)] = raw[order[i]];
  return g;
}

std::string GuidText(const Guid& g) { return textout::GuidText(g); }

}  // namespace sim
