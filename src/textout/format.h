// printf-style formatting of wide text into a std::wstring of whatever length it needs.
#pragma once

#include <string>

namespace textout {

// Formats like swprintf. Wide string arguments take %ls. Never truncates.
std::wstring Format(const wchar_t* format, ...);

// Narrow ASCII to wide (for numbers and fixed texts).
std::wstring Widen(const std::string& ascii);

}  // namespace textout
