// Wide text to UTF-8, for the files written for other programs to read (the machine capture's
// profile, the simulator's files).
#pragma once

#include <string>

namespace textout {

// UTF-16 (wchar_t on Windows, surrogate pairs joined) or UTF-32 (elsewhere) to UTF-8; a code
// unit that is no character becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);

}  // namespace textout
