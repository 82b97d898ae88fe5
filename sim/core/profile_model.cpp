#include "sim/core/profile_model.h"

#include "sim/core/text.h"

namespace sim {

std::string WmiText(const Disk& disk, const wchar_t* name, WmiNumbers numbers) {
  for (const WmiProperty& p : disk.wmi) {
    if (p.name != name) continue;
    if (p.value.kind == os::WmiValue::Kind::Text) return ToUtf8(p.value.text);
    if (numbers == WmiNumbers::kShown && p.value.kind == os::WmiValue::Kind::Int32) {
      return std::to_string(p.value.i32);
    }
  }
  return std::string();
}

}  // namespace sim
