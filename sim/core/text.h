// Text helpers of the simulation: UTF-8 for host file names and messages, and the two letter-case
// comparisons the simulated Windows makes.
#pragma once

#include <string>

namespace sim {

// UTF-8 for host file names and messages.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Upper-cases a-z and turns '/' into '\' (Windows' case-insensitive path comparison for the
// names we use).
std::wstring UpperPath(const std::wstring& path);

// Upper-cases every letter the C library knows (WMI's case-insensitive names and keywords; a
// '/' stays a '/').
std::wstring UpperCase(const std::wstring& text);

}  // namespace sim
