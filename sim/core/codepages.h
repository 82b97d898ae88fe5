// The two code pages of the simulated Windows: 1252 as the ANSI code page, 437 as the OEM one.
#pragma once

#include <string>

namespace sim {

extern const char16_t kCp1252[128];
extern const char16_t kCp437[128];

// Bytes up to the first zero byte, through the table for 0x80-0xFF.
std::wstring DecodeCodePage(const char16_t* high, const std::string& bytes);

}  // namespace sim
