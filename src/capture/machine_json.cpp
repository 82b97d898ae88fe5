#include "capture/machine_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "capture/machine_capture.h"
#include "capture/profile_writer.h"
#include "textout/format.h"
#include "textout/utf8.h"

namespace {

// Keys stay in the order written, so that a person reads the profile as the capture ran.
using Json = nlohmann::ordered_json;

Json Text(const std::wstring& text) { return textout::ToUtf8(text); }

std::string Hex(std::uint32_t n, int digits) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%0*X", digits, n);
  return text;
}

Json WmiValueJson(const os::WmiValue& v) {
  switch (v.kind) {
    case os::WmiValue::Kind::Text:
      return Text(v.text);
    case os::WmiValue::Kind::Int32:
      return v.i32;
    case os::WmiValue::Kind::Bool:
      return v.boolean;
    case os::WmiValue::Kind::Null:
    case os::WmiValue::Kind::Other:
      break;
  }
  return nullptr;
}

Json RotationJson(const MediaRotationReading& r) {
  switch (r.failedStep) {
    case MediaRotationReading::Step::kOpen:
      return "no-open";
    case MediaRotationReading::Step::kVersion:
      return "no-smart";
    case MediaRotationReading::Step::kIdentify:
      return "identify-fails";
    case MediaRotationReading::Step::kNone:
      break;
  }
  return r.rate;
}

Json LayoutJson(const std::optional<DriveLayout>& layout) {
  if (!layout) return nullptr;
  const bool mbr = layout->style == drive_layout::kStyleMbr;
  Json out = Json::object();
  out["style"] = mbr ? "mbr" : layout->style == drive_layout::kStyleGpt ? "gpt" : "raw";
  out["entries"] = Json::array();
  for (const DriveLayoutEntry& e : layout->entries) {
    Json entry = {{"number", e.number}, {"start", e.start}, {"length", e.length}};
    if (mbr) {
      entry["type"] = Hex(e.mbrType, 2);
      entry["recognised"] = e.recognized;
    } else {
      entry["type"] = textout::GuidText(e.gptType);
    }
    out["entries"].push_back(std::move(entry));
  }
  return out;
}

Json DiskJson(const ProfileDisk& d) {
  Json out = Json::object();
  if (d.cacheRole == CacheRole::kDataVolume) out["role"] = "data-volume";
  if (d.wmi != nullptr) {
    Json& wmi = out["wmi"] = Json::object();
    for (const CapturedProperty& p : *d.wmi) wmi[textout::ToUtf8(p.name)] = WmiValueJson(p.value);
  } else if (d.cacheRole == CacheRole::kCacheDevice) {
    out["comment"] = "the cache's device: Windows does not see it, its bytes are not known";
  } else {
    out["comment"] = "a drive that the WMI disk list did not show";
  }
  if (d.drive == nullptr) {
    out["drive"] = nullptr;
    if (d.blankSizeMb != 0) {
      out["size_mb"] = d.blankSizeMb;
      out["style"] = "raw";
    }
  } else {
    out["drive"] = d.drive->number;
    out["rotation"] = RotationJson(d.drive->rotation);
    out["captured"] = {{"bytes", d.drive->bytes},
                       {"pieces", Text(PiecesFileName(d.drive->number))},
                       {"layout", LayoutJson(d.drive->layout)}};
  }
  if (!d.letters.empty()) {
    Json& letters = out["letters"] = Json::object();
    for (const auto& [letter, number] : d.letters) {
      letters[textout::ToUtf8(std::wstring(1, letter))] = number;
    }
  }
  if (d.rstId) {
    out["rst"] = {{"id", Text(*d.rstId)},
                  {"type", Text(d.rst.Type)},
                  {"disk_type", Text(d.rst.DiskType)},
                  {"state", Text(d.rst.State)},
                  {"size", Text(d.rstSize)},
                  {"free_size", Text(d.rstFreeSize)},
                  {"system_disk", d.rstSystemDisk ? Text(*d.rstSystemDisk)
                                                  : Json(d.rst.SystemDisk != 0 ? "True" : "False")},
                  {"usage", Text(d.rst.Usage)},
                  {"serial", Text(d.rst.SerialNumber)},
                  {"model", Text(d.rst.Model)}};
  }
  return out;
}

std::string FeatureText(const CapturedFeature& f) {
  switch (f.reading) {
    case FirmwareReading::kNoDevice:
      return "no device";
    case FirmwareReading::kCallFailed:
      return "call failed";
    case FirmwareReading::kAnswered:
      break;
  }
  return Hex(f.value, 8);
}

Json FirmwareJson(const MachineRecord& record) {
  bool device = false;
  for (const CapturedFeature& f : record.features) {
    device |= f.reading != FirmwareReading::kNoDevice;
  }
  if (!device) return nullptr;
  const char* names[] = {"IFFS", "RAID0", "ISRT", "Diskeeper"};
  Json out = Json::object();
  for (std::size_t i = 0; i < record.features.size(); ++i) {
    const CapturedFeature& f = record.features[i];
    out[names[i]] = FirmwareFeatureFlag(f.reading, f.value) != 0;
  }
  return out;
}

Json CommentJson(const MachineRecord& record) {
  Json answers = Json::object();
  for (std::size_t i = 0; i < record.features.size(); ++i) {
    answers[textout::ToUtf8(kFirmwareFeatures[i].szLogName)] = FeatureText(record.features[i]);
  }
  Json letters = Json::object();
  for (const CapturedLetter& l : record.letters) {
    Json extents = nullptr;
    if (l.extents) {
      extents = Json::array();
      for (const DiskExtent& e : *l.extents) extents.push_back({e.disk, e.start});
    }
    letters[textout::ToUtf8(std::wstring(1, l.letter))] = {
        {"label", l.label ? Text(*l.label) : Json(nullptr)}, {"extents", extents}};
  }
  return {{"captured_by", "cachesetup-capture"},
          {"firmware_answers", answers},
          {"drive_letters", letters}};
}

// The cache the report shows, as the controller holds it when the replay starts.
Json StorageConfigJson(const PairedDisks& paired) {
  const ReportCache& cache = *paired.cache.cache;
  Json out = {{"cache_device", Text(cache.device)}};
  if (cache.dataGiB) out["cache_size"] = Text(cache.cacheSizeText);
  if (!cache.acceleratedDisk.empty()) {
    out["accelerated_disk"] = Text(cache.acceleratedDisk);
    out["mode"] = Text(cache.mode);
  }
  for (const ProfileDisk& d : paired.disks) {
    const os::WmiValue* index = FindProperty(d.wmi, L"Index");
    if (d.cacheRole == CacheRole::kDataVolume && index != nullptr &&
        index->kind == os::WmiValue::Kind::Int32 && index->i32 >= 0 && index->i32 <= 1000) {
      out["volume_number"] = index->i32;
    }
  }
  return out;
}

}  // namespace

std::string MachineJson(const MachineRecord& record, const PairedDisks& paired) {
  Json out = Json::object();
  out["comment"] = CommentJson(record);
  Json& windows = out["windows"] = {{"bits", record.bits}};
  if (!record.windowsDir.empty()) {
    windows["windows_dir"] = Text(record.windowsDir);
    windows["system_dir"] = Text(record.systemDir);
  }
  windows["temp_folder"] = record.tempFolder;
  const os::LocalTime& t = record.clock;
  out["clock"] = Text(textout::Format(L"%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                                      t.hour, t.minute, t.second));
  out["memory_kb"] = record.memoryKb ? Json(*record.memoryKb) : Json(nullptr);
  out["firmware"] = FirmwareJson(record);
  out["installer"] = record.installer;
  out["storage_tool"] = record.storageTool;
  if (record.storageReport) out["storage_report"] = Text(kStorageReportName);
  if (paired.cache.cache) out["storage_config"] = StorageConfigJson(paired);
  out["disks"] = Json::array();
  for (const ProfileDisk& d : paired.disks) out["disks"].push_back(DiskJson(d));
  Json files = Json::object();
  for (const CapturedLetter& l : record.letters) {
    if (l.systemFiles.empty() || l.letter < L'A' || l.letter > L'Z') continue;
    Json& names = files[textout::ToUtf8(std::wstring(1, l.letter))] = Json::array();
    for (const std::wstring& name : l.systemFiles) names.push_back(Text(name));
  }
  if (!files.empty()) out["volume_files"] = files;
  out["faults"] = record.faults;
  // Text that is not valid UTF-8 (a label with a lone surrogate) is replaced, never thrown on.
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
