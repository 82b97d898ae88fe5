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

std::vector<std::pair<const char*, std::string*>> RstFields(RstView& v) {
  return {{"id", &v.id},
          {"type", &v.type},
          {"disk_type", &v.disk_type},
          {"state", &v.state},
          {"size", &v.size},
          {"free_size", &v.free_size},
          {"system_disk", &v.system_disk},
          {"usage", &v.usage},
          {"serial", &v.serial},
          {"model", &v.model}};
}

std::optional<std::size_t> PowerCutFault(const std::string& fault) {
  static const std::string kPrefix = "PowerCut:";
  if (fault.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  const std::string number = fault.substr(kPrefix.size());
  if (number.empty() || number.size() > 9 ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const std::size_t n = std::stoul(number);
  return n >= 1 ? std::optional<std::size_t>(n) : std::nullopt;
}

}  // namespace sim
