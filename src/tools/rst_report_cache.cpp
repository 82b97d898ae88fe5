#include "tools/rst_report_cache.h"

#include <cstdlib>
#include <map>
#include <vector>

#include "textout/format.h"

namespace {

using Block = std::map<std::string, std::string>;

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The blocks of one "--SECTION--" of the report: "Key:" then the value; "ID:" or a blank line
// starts anew. The device blocks follow "--END DEVICE INFORMATION--".
std::vector<Block> SectionBlocks(const std::string& report, const std::string& section) {
  std::vector<Block> blocks;
  bool inSection = false, inBlock = false;
  for (std::size_t at = 0; at < report.size();) {
    std::size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    const std::string line = Trimmed(report.substr(at, end - at));
    at = end + 1;
    if (line.size() > 4 && line.compare(0, 2, "--") == 0 &&
        line.compare(line.size() - 2, 2, "--") == 0) {
      inSection = line == section;
      inBlock = false;
      continue;
    }
    if (!inSection) continue;
    const std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string::npos) {
      inBlock = false;
      continue;
    }
    const std::string key = line.substr(0, colon);
    if (key == "ID" || !inBlock) blocks.emplace_back();
    inBlock = true;
    blocks.back()[key] = Trimmed(line.substr(colon + 1));
  }
  return blocks;
}

std::string Field(const Block& block, const char* key) {
  const auto it = block.find(key);
  return it == block.end() ? std::string() : it->second;
}

// Ids, sizes and modes are plain ASCII; anything else is not taken apart.
std::optional<std::wstring> Ascii(const std::string& text) {
  std::wstring out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
      return std::nullopt;
    }
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

// "23.50 GB" gives 23.5 and the text "23.50"; anything else, nothing.
std::optional<double> Gigabytes(const std::string& text, std::string* number) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos || text.substr(blank) != " GB" || blank == 0) return std::nullopt;
  *number = text.substr(0, blank);
  if (number->find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(number->c_str(), &end);
  if (*end != '\0' || !(value > 0) || !(value < 1.0e9)) return std::nullopt;
  return value;
}

std::wstring Quoted(const std::string& text) {
  const std::optional<std::wstring> ascii = Ascii(text);
  return L"'" + ascii.value_or(L"?") + L"'";
}

}  // namespace

ReportCacheReading ReadReportCache(const std::string& report, const RstDeviceList& devices) {
  ReportCacheReading reading;
  std::vector<Block> caches, datas, others;
  for (const Block& b : SectionBlocks(report, "--VOLUME INFORMATION--")) {
    const std::string type = Field(b, "Type");
    (type == "Cache" ? caches : type == "Data" ? datas : others).push_back(b);
  }
  if (caches.empty()) return reading;
  reading.shown = true;
  auto refuse = [&reading](const std::wstring& why) {
    reading.why = why;
    return reading;
  };
  // A volume of another kind, or a cache block without its acceleration lines, is a layout this
  // reading does not know: better no cache than a wrong one.
  if (!others.empty()) {
    return refuse(L"it lists a volume of type " + Quoted(Field(others[0], "Type")));
  }
  if (caches[0].count("Accelerated Disk") == 0 || caches[0].count("Accel Mode") == 0) {
    return refuse(L"its cache volume has no \"Accelerated Disk:\" and \"Accel Mode:\" lines");
  }
  if (caches.size() > 1 || datas.size() > 1) {
    return refuse(textout::Format(L"it lists %d cache and %d data volumes",
                                  static_cast<int>(caches.size()), static_cast<int>(datas.size())));
  }
  ReportCache cache;
  std::string number;
  const std::optional<double> cacheGiB = Gigabytes(Field(caches[0], "Size"), &number);
  if (!cacheGiB)
    return refuse(L"the cache size " + Quoted(Field(caches[0], "Size")) + L" is not in GB");
  cache.cacheGiB = *cacheGiB;
  cache.cacheSizeText = *Ascii(number);
  if (!datas.empty()) {
    cache.dataGiB = Gigabytes(Field(datas[0], "Size"), &number);
    if (!cache.dataGiB) {
      return refuse(L"the data volume's size " + Quoted(Field(datas[0], "Size")) +
                    L" is not in GB");
    }
  }
  int members = 0;
  for (const RstDeviceRecord& d : devices) {
    if (d.Usage == L"Array member") {
      ++members;
      cache.device = d.ID;
    }
  }
  if (members != 1) {
    return refuse(textout::Format(L"%d devices are marked \"Array member\", not one", members));
  }
  const std::optional<std::wstring> accel = Ascii(Field(caches[0], "Accelerated Disk"));
  const std::optional<std::wstring> mode = Ascii(Field(caches[0], "Accel Mode"));
  if (!accel || !mode) return refuse(L"its accelerated disk or mode is not plain text");
  bool listed = false;
  for (const RstDeviceRecord& d : devices) listed |= !accel->empty() && d.ID == *accel;
  if (!accel->empty() && (!listed || *accel == cache.device)) {
    return refuse(L"the accelerated disk '" + *accel + L"' is not another device it lists");
  }
  if (accel->empty() != mode->empty() ||
      (!mode->empty() && *mode != L"maximized" && *mode != L"enhanced")) {
    return refuse(L"the accelerated disk '" + *accel + L"' and mode '" + *mode +
                  L"' do not make an acceleration");
  }
  cache.acceleratedDisk = *accel;
  cache.mode = *mode;
  reading.cache = cache;
  return reading;
}

std::vector<ReportDeviceSizes> ReadDeviceSizes(const std::string& report) {
  std::vector<ReportDeviceSizes> sizes;
  for (const Block& b : SectionBlocks(report, "--END DEVICE INFORMATION--")) {
    const std::optional<std::wstring> id = Ascii(Field(b, "ID"));
    const std::optional<std::wstring> size = Ascii(Field(b, "Size"));
    const std::optional<std::wstring> freeSize = Ascii(Field(b, "Free Size"));
    std::optional<std::wstring> system;
    if (b.count("System Disk") != 0) system = Ascii(Field(b, "System Disk"));
    if (id && size && freeSize && !size->empty()) sizes.push_back({*id, *size, *freeSize, system});
  }
  return sizes;
}
