// Machine profiles from arbitrary bytes: either a profile or a ProfileError, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/profile/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    sim::ParseProfile(text, "fuzz.json", ".");
  } catch (const sim::ProfileError&) {
  }
  return 0;
}
