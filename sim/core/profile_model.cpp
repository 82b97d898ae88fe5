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

namespace {

// A decimal number of at most ten digits (no sign, no blanks, no leading zero: the steps
// compare the number as they print it) up to `max`.
std::optional<std::uint64_t> WholeNumber(const std::string& text, std::uint64_t max) {
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos ||
      (text.size() > 1 && text[0] == '0'))
    return std::nullopt;
  const std::uint64_t n = std::stoull(text);
  return n <= max ? std::optional<std::uint64_t>(n) : std::nullopt;
}

// Child processes are counted from 1; nine digits are more than any run starts.
constexpr std::uint64_t kMaxChild = 999999999;

}  // namespace

std::optional<std::size_t> PowerCutFault(const std::string& fault) {
  static const std::string kPrefix = "PowerCut:";
  if (fault.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  const auto n = WholeNumber(fault.substr(kPrefix.size()), kMaxChild);
  return n && *n >= 1 ? std::optional<std::size_t>(*n) : std::nullopt;
}

std::optional<std::uint32_t> DataVolumeDelayFault(const std::string& fault) {
  static const std::string kPrefix = "DataVolumeDelay:";
  if (fault.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  const auto s = WholeNumber(fault.substr(kPrefix.size()), 86400);
  return s ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*s)) : std::nullopt;
}

std::optional<std::pair<std::size_t, std::uint32_t>> ChildExitFault(const std::string& fault) {
  static const std::string kPrefix = "ChildExit:";
  if (fault.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  const std::size_t equals = fault.find('=', kPrefix.size());
  if (equals == std::string::npos) return std::nullopt;
  const auto n = WholeNumber(fault.substr(kPrefix.size(), equals - kPrefix.size()), kMaxChild);
  const auto k = WholeNumber(fault.substr(equals + 1), UINT32_MAX);
  if (!n || *n < 1 || !k) return std::nullopt;
  return std::make_pair(static_cast<std::size_t>(*n), static_cast<std::uint32_t>(*k));
}

}  // namespace sim
