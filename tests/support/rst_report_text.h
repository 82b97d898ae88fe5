// Storage-tool report text for tests: lines in the tool's column layout, device blocks, and the
// records the parser should make of them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/records.h"
#include "tools/rst_report.h"

namespace testing_support {

// "Key:" padded with blanks to the value column, then the value.
inline std::wstring L_(const std::wstring& key, const std::wstring& value) {
  std::wstring line = key;
  if (line.size() < 19) line.append(19 - line.size(), L' ');
  return line + value + L"\n";
}

inline const std::wstring kMarker = L"--END DEVICE INFORMATION--\n";

inline std::wstring Block(const std::wstring& id, const std::wstring& size,
                          const std::wstring& model) {
  return L_(L"ID:", id) + L_(L"Type:", L"Disk") + L_(L"Disk Type:", L"SATA") +
         L_(L"State:", L"Normal") + L_(L"Size:", size) + L_(L"Free Size:", L"0 GB") +
         L_(L"System Disk:", L"False") + L_(L"Usage:", L"Available") +
         L_(L"Serial Number:", L"SN-" + id) + L_(L"Model:", model);
}

inline RstDeviceRecord Rec(std::wstring id, std::wstring type, std::wstring diskType,
                           std::wstring state, std::int32_t size, std::int32_t freeSize,
                           std::int32_t systemDisk, std::wstring usage, std::wstring serial,
                           std::wstring model) {
  return RstDeviceRecord{id,       type,       diskType, state,  size,
                         freeSize, systemDisk, usage,    serial, model};
}

inline RstDeviceRecord Blocked(const std::wstring& id, std::int32_t size,
                               const std::wstring& model) {
  return Rec(id, L"Disk", L"SATA", L"Normal", size, 0, 0, L"Available", L"SN-" + id, model);
}

// One printed record per line.
inline std::string Show(const RstDeviceList& list) {
  std::string out;
  for (const RstDeviceRecord& r : list) out += ::testing::PrintToString(r) + "\n";
  return out;
}

inline std::string Ascii(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

}  // namespace testing_support
