#include "textout/format.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace textout {

std::wstring Format(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    // vswprintf gives -1 both for a too-small buffer and for an encoding error; the size
    // cap stops the loop for the second kind.
    if (n >= 0 && static_cast<std::size_t>(n) < buffer.size()) {
      return std::wstring(buffer.data(), static_cast<std::size_t>(n));
    }
    if (buffer.size() >= (std::size_t{1} << 24)) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

std::string GuidText(const std::array<std::uint8_t, 16>& g) {
  char out[40];
  std::snprintf(out, sizeof(out),
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return out;
}

}  // namespace textout
