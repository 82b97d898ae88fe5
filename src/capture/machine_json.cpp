#include "capture/machine_json.h"

#include <cstdio>

#include "capture/machine_capture.h"
#include "capture/profile_writer.h"
#include "textout/format.h"
#include "textout/utf8.h"

namespace {

std::string Quoted(const std::string& utf8) {
  std::string out = "\"";
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(ch);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out.push_back(ch);
    }
  }
  return out + "\"";
}

std::string Quoted(const std::wstring& text) { return Quoted(textout::ToUtf8(text)); }

std::string Number(std::uint64_t n) { return std::to_string(n); }

std::string Hex(std::uint32_t n, int digits) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%0*X", digits, n);
  return text;
}

std::string Join(const std::vector<std::string>& items, const std::string& indent) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += indent + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
  }
  return out;
}

std::string WmiValueJson(const os::WmiValue& v) {
  switch (v.kind) {
    case os::WmiValue::Kind::Text:
      return Quoted(v.text);
    case os::WmiValue::Kind::Int32:
      return std::to_string(v.i32);
    case os::WmiValue::Kind::Bool:
      return v.boolean ? "true" : "false";
    case os::WmiValue::Kind::Null:
    case os::WmiValue::Kind::Other:
      break;
  }
  return "null";
}

std::string RotationJson(const MediaRotationReading& r) {
  switch (r.failedStep) {
    case MediaRotationReading::Step::kOpen:
      return "\"no-open\"";
    case MediaRotationReading::Step::kVersion:
      return "\"no-smart\"";
    case MediaRotationReading::Step::kIdentify:
      return "\"identify-fails\"";
    case MediaRotationReading::Step::kNone:
      break;
  }
  return Number(r.rate);
}

std::string LayoutJson(const std::optional<DriveLayout>& layout, const std::string& indent) {
  if (!layout) return "null";
  const bool mbr = layout->style == drive_layout::kStyleMbr;
  const char* style = mbr ? "mbr" : layout->style == drive_layout::kStyleGpt ? "gpt" : "raw";
  std::vector<std::string> entries;
  for (const DriveLayoutEntry& e : layout->entries) {
    std::string entry = "{ \"number\": " + Number(e.number) + ", \"start\": " + Number(e.start) +
                        ", \"length\": " + Number(e.length) + ", \"type\": ";
    if (mbr) {
      entry += Quoted(Hex(e.mbrType, 2)) + ", \"recognised\": " + (e.recognized ? "true" : "false");
    } else {
      entry += Quoted(textout::GuidText(e.gptType));
    }
    entries.push_back(entry + " }");
  }
  return std::string("{\n") + indent + "  \"style\": \"" + style + "\",\n" + indent +
         "  \"entries\": [\n" + Join(entries, indent + "    ") + indent + "  ]\n" + indent + "}";
}

std::string DiskJson(const ProfileDisk& d) {
  std::vector<std::string> keys;
  if (d.wmi != nullptr) {
    std::vector<std::string> properties;
    for (const CapturedProperty& p : *d.wmi) {
      properties.push_back(Quoted(p.name) + ": " + WmiValueJson(p.value));
    }
    keys.push_back("\"wmi\": {\n" + Join(properties, "        ") + "      }");
  } else {
    keys.push_back("\"comment\": \"a drive that the WMI disk list did not show\"");
  }
  if (d.drive == nullptr) {
    keys.push_back("\"drive\": null");
    if (d.blankSizeMb != 0) {
      keys.push_back("\"size_mb\": " + Number(d.blankSizeMb));
      keys.push_back("\"style\": \"raw\"");
    }
  } else {
    keys.push_back("\"drive\": " + Number(static_cast<std::uint64_t>(d.drive->number)));
    keys.push_back("\"rotation\": " + RotationJson(d.drive->rotation));
    keys.push_back("\"captured\": {\n        \"bytes\": " + Number(d.drive->bytes) +
                   ",\n        \"pieces\": " + Quoted(PiecesFileName(d.drive->number)) +
                   ",\n        \"layout\": " + LayoutJson(d.drive->layout, "        ") +
                   "\n      }");
  }
  if (!d.letters.empty()) {
    std::vector<std::string> letters;
    for (const auto& [letter, number] : d.letters) {
      letters.push_back(Quoted(std::wstring(1, letter)) + ": " + Number(number));
    }
    std::string text;
    for (std::size_t i = 0; i < letters.size(); ++i) text += (i ? ", " : "") + letters[i];
    keys.push_back("\"letters\": { " + text + " }");
  }
  if (d.rstId) {
    keys.push_back("\"rst\": { \"id\": " + Quoted(*d.rstId) + ", \"size\": " + Quoted(d.rstSize) +
                   ", \"system_disk\": " + (d.rstSystemDisk ? "\"True\"" : "\"False\"") + " }");
  }
  return "{\n" + Join(keys, "      ") + "    }";
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

std::string FirmwareJson(const MachineRecord& record) {
  bool device = false;
  for (const CapturedFeature& f : record.features)
    device |= f.reading != FirmwareReading::kNoDevice;
  if (!device) return "null";
  const char* names[] = {"IFFS", "RAID0", "ISRT", "Diskeeper"};
  std::string out = "{ ";
  for (std::size_t i = 0; i < record.features.size(); ++i) {
    const CapturedFeature& f = record.features[i];
    const bool set = FirmwareFeatureFlag(f.reading, f.value) != 0;
    out += std::string(i ? ", " : "") + "\"" + names[i] + "\": " + (set ? "true" : "false");
  }
  return out + " }";
}

std::string CommentJson(const MachineRecord& record) {
  std::vector<std::string> answers;
  for (std::size_t i = 0; i < record.features.size(); ++i) {
    answers.push_back(Quoted(textout::ToUtf8(kFirmwareFeatures[i].szLogName)) + ": " +
                      Quoted(FeatureText(record.features[i])));
  }
  std::vector<std::string> letters;
  for (const CapturedLetter& l : record.letters) {
    std::string extents = "null";
    if (l.extents) {
      extents = "[";
      for (std::size_t i = 0; i < l.extents->size(); ++i) {
        extents += std::string(i ? ", " : "") + "[" + Number((*l.extents)[i].disk) + ", " +
                   Number((*l.extents)[i].start) + "]";
      }
      extents += "]";
    }
    letters.push_back(Quoted(std::wstring(1, l.letter)) + ": { \"label\": " +
                      (l.label ? Quoted(*l.label) : "null") + ", \"extents\": " + extents + " }");
  }
  return "{\n    \"captured_by\": \"cachesetup-capture\",\n    \"firmware_answers\": {\n" +
         Join(answers, "      ") + "    },\n    \"drive_letters\": {\n" + Join(letters, "      ") +
         "    }\n  }";
}

}  // namespace

std::string MachineJson(const MachineRecord& record, const std::vector<ProfileDisk>& disks) {
  std::vector<std::string> keys;
  keys.push_back("\"comment\": " + CommentJson(record));
  std::string windows = "{ \"bits\": " + Number(static_cast<std::uint64_t>(record.bits));
  if (!record.windowsDir.empty()) {
    windows += ", \"windows_dir\": " + Quoted(record.windowsDir) +
               ", \"system_dir\": " + Quoted(record.systemDir);
  }
  keys.push_back("\"windows\": " + windows +
                 ", \"temp_folder\": " + (record.tempFolder ? "true" : "false") + " }");
  const os::LocalTime& t = record.clock;
  keys.push_back("\"clock\": " + Quoted(textout::ToUtf8(
                                     textout::Format(L"%04d-%02d-%02d %02d:%02d:%02d", t.year,
                                                     t.month, t.day, t.hour, t.minute, t.second))));
  keys.push_back("\"memory_kb\": " + (record.memoryKb ? Number(*record.memoryKb) : "null"));
  keys.push_back("\"firmware\": " + FirmwareJson(record));
  keys.push_back(std::string("\"installer\": ") + (record.installer ? "true" : "false"));
  keys.push_back(std::string("\"storage_tool\": ") + (record.storageTool ? "true" : "false"));
  if (record.storageReport) {
    keys.push_back("\"storage_report\": " + Quoted(std::wstring(kStorageReportName)));
  }
  std::vector<std::string> diskItems;
  for (const ProfileDisk& d : disks) diskItems.push_back(DiskJson(d));
  keys.push_back("\"disks\": [\n" + Join(diskItems, "    ") + "  ]");
  std::vector<std::string> faults;
  for (const std::string& f : record.faults) faults.push_back(Quoted(f));
  std::string faultList;
  for (std::size_t i = 0; i < faults.size(); ++i) faultList += (i ? ", " : "") + faults[i];
  keys.push_back("\"faults\": [" + faultList + "]");
  return "{\n" + Join(keys, "  ") + "}\n";
}
