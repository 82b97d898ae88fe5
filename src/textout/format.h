// printf-style formatting of wide text into a std::wstring of whatever length it needs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>

namespace textout {

// Formats like swprintf. Wide string arguments take %ls. Never truncates.
std::wstring Format(const wchar_t* format, ...);

// A wide character's code unit as an unsigned number (wchar_t is signed on Linux).
inline std::uint32_t CodeUnit(wchar_t c) {
  return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c));
}

// A GUID in the byte order a partition table or a drive layout holds it (the first three groups
// little-endian), as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
std::string GuidText(const std::array<std::uint8_t, 16>& guid);

}  // namespace textout
