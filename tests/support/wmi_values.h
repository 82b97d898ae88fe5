// WMI properties of simulated disks, built in code.
#pragma once

#include <cstdint>
#include <string>

#include "sim/core/machine.h"

namespace testing_support {

inline sim::WmiProperty WmiText(const wchar_t* name, const std::wstring& value) {
  sim::WmiProperty p;
  p.name = name;
  p.value.kind = os::WmiValue::Kind::Text;
  p.value.text = value;
  return p;
}

inline sim::WmiProperty WmiInt(const wchar_t* name, std::int32_t value) {
  sim::WmiProperty p;
  p.name = name;
  p.value.kind = os::WmiValue::Kind::Int32;
  p.value.i32 = value;
  return p;
}

}  // namespace testing_support
