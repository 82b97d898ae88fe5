#include "capture/profile_writer.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "capture/machine_capture.h"
#include "textout/format.h"
#include "textout/utf8.h"
#include "tools/rst_report.h"

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

const os::WmiValue* Property(const CapturedWmiDisk* disk, const wchar_t* name) {
  if (disk == nullptr) return nullptr;
  for (const CapturedProperty& p : *disk) {
    if (p.name == name) return &p.value;
  }
  return nullptr;
}

std::wstring Trimmed(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// A WMI number text (Size); 0 when it is not all digits or too long for 64 bits.
std::uint64_t DecimalOrZero(const std::wstring& text) {
  if (text.empty() || text.size() > 19) return 0;
  std::uint64_t n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return n;
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
    // No drive to read: the disk's size is what WMI says, its bytes unknown (blank).
    const os::WmiValue* size = Property(d.wmi, L"Size");
    const std::uint64_t mib = size != nullptr && size->kind == os::WmiValue::Kind::Text
                                  ? DecimalOrZero(size->text) / (1024 * 1024)
                                  : 0;
    if (mib != 0) {
      keys.push_back("\"size_mb\": " + Number(std::min<std::uint64_t>(mib, 1u << 24)));
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

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  os::UniqueHandle file(
      os::CreateFileW(path, os::kGenericWrite, 0, os::kCreateAlways, os::kFileAttributeNormal));
  if (!file) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = bytes.size() - done < (1u << 20) ? bytes.size() - done : (1u << 20);
    std::uint32_t written = 0;
    if (!os::WriteFile(file.get(), bytes.data() + done, static_cast<std::uint32_t>(chunk),
                       &written) ||
        written != chunk) {
      return false;
    }
    done += chunk;
  }
  return true;
}

}  // namespace

std::vector<ProfileDisk> AssembleDisks(const MachineRecord& record) {
  std::vector<ProfileDisk> disks;
  std::vector<bool> used(record.drives.size(), false);
  for (const CapturedWmiDisk& wmi : record.wmiDisks) {
    ProfileDisk d;
    d.wmi = &wmi;
    const os::WmiValue* index = Property(&wmi, L"Index");
    for (std::size_t i = 0;
         index != nullptr && index->kind == os::WmiValue::Kind::Int32 && i < record.drives.size();
         ++i) {
      if (!used[i] && record.drives[i].number == index->i32) {
        d.drive = &record.drives[i];
        used[i] = true;
        break;
      }
    }
    disks.push_back(d);
  }
  // Which WMI disk a drive sits behind is not visible to the product: the inventory asks the
  // drive its Index names, the locator walks drive numbers. The rest go where there is room.
  for (std::size_t i = 0; i < record.drives.size(); ++i) {
    if (used[i]) continue;
    ProfileDisk* home = nullptr;
    for (ProfileDisk& d : disks) {
      if (d.drive == nullptr) {
        home = &d;
        break;
      }
    }
    if (home == nullptr) home = &disks.emplace_back();
    home->drive = &record.drives[i];
  }
  for (const CapturedLetter& l : record.letters) {
    if (!l.extents || l.extents->empty()) continue;
    const DiskExtent& e = l.extents->front();
    for (ProfileDisk& d : disks) {
      if (d.drive == nullptr || d.drive->number != static_cast<int>(e.disk) || !d.drive->layout) {
        continue;
      }
      for (const DriveLayoutEntry& entry : d.drive->layout->entries) {
        if (entry.start == e.start && entry.number != 0) d.letters[l.letter] = entry.number;
      }
    }
  }
  if (record.storageReport) {
    RstDeviceList devices;
    ParseRstReportBytes(*record.storageReport, devices);
    for (const RstDeviceRecord& device : devices) {
      ProfileDisk* home = nullptr;
      for (ProfileDisk& d : disks) {
        const os::WmiValue* serial = Property(d.wmi, L"SerialNumber");
        if (!d.rstId && serial != nullptr && serial->kind == os::WmiValue::Kind::Text &&
            !Trimmed(device.SerialNumber).empty() &&
            Trimmed(serial->text) == Trimmed(device.SerialNumber)) {
          home = &d;
          break;
        }
      }
      for (std::size_t i = 0; home == nullptr && i < disks.size(); ++i) {
        if (!disks[i].rstId) home = &disks[i];
      }
      if (home == nullptr) break;  // more devices than disks: the rest have nowhere to go
      home->rstId = device.ID;
      home->rstSize = std::to_wstring(device.Size) + L" GB";
      home->rstSystemDisk = device.SystemDisk != 0;
    }
  }
  return disks;
}

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

std::wstring PiecesFileName(int driveNumber) {
  return L"disk" + std::to_wstring(driveNumber) + L".pieces";
}

std::vector<pieces_file::Piece> DrivePieces(const CapturedDrive& drive) {
  std::vector<pieces_file::Piece> pieces;
  pieces_file::Piece run;
  auto flush = [&] {
    if (!run.bytes.empty()) pieces.push_back(std::move(run));
    run = pieces_file::Piece{};
  };
  for (const auto& [offset, bytes] : drive.sectors) {
    if (offset >= drive.bytes) continue;
    if (bytes.find_first_not_of('\0') == std::string::npos) {
      flush();  // the replay's disk reads zeros wherever nothing is stored
      continue;
    }
    const std::string kept = bytes.substr(
        0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), drive.bytes - offset)));
    if (!run.bytes.empty() && run.offset + run.bytes.size() != offset) flush();
    if (run.bytes.empty()) run.offset = offset;
    run.bytes += kept;
  }
  flush();
  return pieces;
}

bool WriteProfileFolder(const std::wstring& outDir, const MachineRecord& record,
                        const std::vector<ProfileDisk>& disks) {
  for (const CapturedDrive& d : record.drives) {
    const std::string pieces = pieces_file::Encode(DrivePieces(d));
    if (!WriteFileBytes(outDir + L"\\" + PiecesFileName(d.number), pieces)) return false;
  }
  return WriteFileBytes(outDir + L"\\machine.json", MachineJson(record, disks));
}
