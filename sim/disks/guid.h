// GUIDs as partition tables hold them, and the ones the simulator makes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sim {

using Guid = std::array<std::uint8_t, 16>;  // in its on-disk byte order

// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" to on-disk bytes (first three groups little-endian).
Guid ParseGuid(const std::string& text);
std::string GuidText(const Guid& guid);

inline constexpr const char* kGptBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
inline constexpr const char* kGptMicrosoftReserved = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
inline constexpr const char* kGptEfiSystem = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

// A GUID that is the same on every run: made from the disk, the slot and a purpose (the
// tables the simulator lays out).
Guid StableGuid(int disk, std::uint32_t slot, std::uint8_t purpose);

}  // namespace sim
