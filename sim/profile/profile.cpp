#include "sim/profile/profile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/pieces_file.h"
#include "sim/core/host_file.h"
#include "sim/core/text.h"
#include "sim/profile/default_profile.h"
#include "sim/profile/fault_list.h"
#include "sim/profile/json_reader.h"

namespace sim {

namespace {

using Json = nlohmann::json;

os::LocalTime ParseClock(const JsonReader& r, const std::string& text) {
  os::LocalTime t;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour,
                  &t.minute, &t.second, &tail) != 6 ||
      t.year < 1601 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 ||
      t.hour > 23 || t.minute > 59 || t.second > 59 || t.hour < 0 || t.minute < 0 || t.second < 0) {
    r.Fail("clock", "must be a time 'YYYY-MM-DD hh:mm:ss'");
  }
  return t;
}

// Win32_DiskDrive properties WMI types as 32-bit integers and as booleans; the rest are texts.
const std::set<std::string> kIntegerProperties = {
    "Index",        "Partitions",   "SCSIBus",        "SCSILogicalUnit",  "SCSIPort",
    "SCSITargetId", "Signature",    "BytesPerSector", "SectorsPerTrack",  "TotalCylinders",
    "TotalHeads",   "TotalSectors", "TotalTracks",    "TracksPerCylinder"};
const std::set<std::string> kBoolProperties = {"MediaLoaded", "NeedsCleaning"};

std::vector<WmiProperty> ParseWmi(const JsonReader& r, const Json& object) {
  if (!object.is_object()) r.Fail("wmi", "must be an object");
  const JsonReader w = r.Sub("wmi");
  std::vector<WmiProperty> out;
  for (auto it = object.begin(); it != object.end(); ++it) {
    WmiProperty p;
    p.name = FromUtf8(it.key());
    const Json& v = it.value();
    if (v.is_null()) {
      p.value.kind = os::WmiValue::Kind::Null;
    } else if (kIntegerProperties.count(it.key()) != 0) {
      // WMI hands uint32 properties over as VT_I4: the bits of the unsigned value.
      p.value.kind = os::WmiValue::Kind::Int32;
      p.value.i32 = static_cast<std::int32_t>(
          static_cast<std::uint32_t>(w.Integer(v, it.key(), -2147483648LL, 4294967295LL)));
    } else if (kBoolProperties.count(it.key()) != 0) {
      p.value.kind = os::WmiValue::Kind::Bool;
      p.value.boolean = w.Bool(v, it.key());
    } else if (v.is_number_integer()) {
      // uint64 properties such as Size arrive as decimal text.
      p.value.kind = os::WmiValue::Kind::Text;
      p.value.text = FromUtf8(v.dump());
    } else {
      p.value.kind = os::WmiValue::Kind::Text;
      p.value.text = w.WText(v, it.key());
    }
    out.push_back(std::move(p));
  }
  return out;
}

// Texts of an object's keys into their fields; an absent key leaves its field as it is.
void TakeTexts(const JsonReader& r, const Json& object,
               const std::vector<std::pair<const char*, std::string*>>& fields) {
  for (const auto& [key, field] : fields) {
    if (object.contains(key)) *field = r.Text(object[key], key);
  }
}

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A partition type as the disk's table style takes it: a GUID text on GPT, one type byte on MBR
// (not 0, which marks an empty slot, nor an extended container). Returned in one spelling.
std::string PartitionType(const JsonReader& r, std::string text, const std::string& style) {
  if (style == "gpt") {
    bool ok = text.size() == 36;
    for (std::size_t i = 0; ok && i < text.size(); ++i) {
      const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      ok = dash ? text[i] == '-' : IsHex(text[i]);
    }
    if (!ok)
      r.Fail("type", "must be a GPT partition type GUID XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  }
  const bool form = text.size() >= 3 && text.size() <= 4 && text[0] == '0' &&
                    (text[1] == 'x' || text[1] == 'X') && IsHex(text[2]) &&
                    (text.size() == 3 || IsHex(text[3]));
  const unsigned long byte = form ? std::strtoul(text.c_str() + 2, nullptr, 16) : 0;
  if (byte == 0 || byte == 0x05 || byte == 0x0F || byte == 0x85)
    r.Fail("type", "must be an MBR partition type byte 0x01-0xFF, not an extended one");
  char out[16];
  std::snprintf(out, sizeof(out), "0x%02X", static_cast<unsigned>(byte & 0xFF));
  return out;
}

std::optional<RecordedLayout> ParseRecordedLayout(const JsonReader& r, const Json& object) {
  if (object.is_null()) return std::nullopt;
  r.Only(object, {"style", "entries"});
  RecordedLayout layout;
  if (!object.contains("style")) r.Fail("style", "is required");
  layout.style = r.Text(object["style"], "style");
  if (layout.style != "mbr" && layout.style != "gpt" && layout.style != "raw")
    r.Fail("style", "must be \"mbr\", \"gpt\" or \"raw\"");
  if (!object.contains("entries") || !object["entries"].is_array())
    r.Fail("entries", "must be a list");
  const Json& list = object["entries"];
  for (std::size_t i = 0; i < list.size(); ++i) {
    const JsonReader e = r.Sub("entries[" + std::to_string(i) + "]");
    e.Only(list[i], {"number", "start", "length", "type", "recognised"});
    RecordedEntry entry;
    for (const char* key : {"number", "start", "length", "type"}) {
      if (!list[i].contains(key)) e.Fail(key, "is required");
    }
    entry.number =
        static_cast<std::uint32_t>(e.Integer(list[i]["number"], "number", 0, 4294967295LL));
    entry.start = static_cast<std::uint64_t>(e.Integer(list[i]["start"], "start", 0, 1LL << 62));
    entry.length = static_cast<std::uint64_t>(e.Integer(list[i]["length"], "length", 0, 1LL << 62));
    entry.type = e.Text(list[i]["type"], "type");
    if (list[i].contains("recognised"))
      entry.recognised = e.Bool(list[i]["recognised"], "recognised");
    layout.entries.push_back(entry);
  }
  return layout;
}

CapturedDisk ParseCapturedDisk(const JsonReader& r, const Json& object,
                               const std::filesystem::path& base) {
  r.Only(object, {"bytes", "pieces", "layout"});
  CapturedDisk c;
  for (const char* key : {"bytes", "pieces", "layout"}) {
    if (!object.contains(key)) r.Fail(key, "is required");
  }
  c.bytes = static_cast<std::uint64_t>(r.Integer(object["bytes"], "bytes", 512, 1LL << 62));
  c.pieces_file = base / r.Text(object["pieces"], "pieces");
  const std::optional<std::string> bytes = ReadHostFile(c.pieces_file);
  if (!bytes) r.Fail("pieces", "cannot read " + c.pieces_file.string());
  std::string error;
  std::optional<std::vector<DiskPiece>> pieces = pieces_file::Decode(*bytes, c.bytes, &error);
  if (!pieces) r.Fail("pieces", c.pieces_file.string() + " " + error);
  c.pieces = std::move(*pieces);
  c.layout = ParseRecordedLayout(r.Sub("layout"), object["layout"]);
  return c;
}

Disk ParseDisk(const JsonReader& r, const Json& object, const std::filesystem::path& base) {
  r.Only(object, {"role", "drive", "wmi", "rotation", "image", "size_mb", "style", "partitions",
                  "letters", "rst", "captured", "comment"});
  Disk d;
  if (object.contains("role")) {
    const std::string role = r.Text(object["role"], "role");
    if (role == "data-volume")
      d.role = DiskRole::kDataVolume;
    else if (role != "device")
      r.Fail("role", "must be \"device\" or \"data-volume\"");
  }
  if (object.contains("wmi")) d.wmi = ParseWmi(r, object["wmi"]);
  // The drive number defaults to the WMI Index.
  for (const WmiProperty& p : d.wmi) {
    if (p.name == L"Index" && p.value.kind == os::WmiValue::Kind::Int32) d.drive = p.value.i32;
  }
  if (object.contains("drive")) {
    if (object["drive"].is_null()) {
      d.drive.reset();
    } else {
      d.drive = static_cast<int>(r.Integer(object["drive"], "drive", 0, 1000));
    }
  }
  if (object.contains("rotation")) {
    const Json& v = object["rotation"];
    if (v.is_number_integer()) {
      d.rotation.rate = static_cast<std::uint16_t>(r.Integer(v, "rotation", 0, 65535));
    } else {
      const std::string s = r.Text(v, "rotation");
      if (s == "no-open")
        d.rotation.kind = Rotation::Kind::NoOpen;
      else if (s == "no-smart")
        d.rotation.kind = Rotation::Kind::NoSmart;
      else if (s == "identify-fails")
        d.rotation.kind = Rotation::Kind::IdentifyFails;
      else
        r.Fail("rotation",
               "must be a number 0-65535, \"no-open\", \"no-smart\" or \"identify-fails\"");
    }
  }
  if (object.contains("image")) {
    d.image = base / r.Text(object["image"], "image");
    if (object.contains("size_mb") || object.contains("partitions") || object.contains("style")) {
      r.Fail("image", "an image disk takes no size_mb, style or partitions");
    }
  }
  if (object.contains("captured")) {
    if (object.contains("image") || object.contains("size_mb") || object.contains("partitions") ||
        object.contains("style")) {
      r.Fail("captured", "a captured disk takes no image, size_mb, style or partitions");
    }
    d.captured = ParseCapturedDisk(r.Sub("captured"), object["captured"], base);
  }
  if (object.contains("size_mb"))
    d.size_mb = static_cast<std::uint64_t>(r.Integer(object["size_mb"], "size_mb", 1, 1LL << 24));
  if (object.contains("style")) {
    d.style = r.Text(object["style"], "style");
    if (d.style != "mbr" && d.style != "gpt" && d.style != "raw")
      r.Fail("style", "must be \"mbr\", \"gpt\" or \"raw\"");
    if (d.style == "raw") {
      if (object.contains("partitions")) r.Fail("partitions", "a raw disk has none");
      d.style.clear();  // laid out blank, with no partition table
    }
  }
  if (object.contains("partitions")) {
    const Json& list = object["partitions"];
    if (!list.is_array()) r.Fail("partitions", "must be a list");
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const JsonReader p = r.Sub("partitions[" + std::to_string(i) + "]");
      p.Only(list[i], {"fs", "label", "size_mb", "letter", "type", "comment"});
      Partition part;
      if (list[i].contains("fs")) {
        part.fs = p.Text(list[i]["fs"], "fs");
        if (part.fs != "ntfs" && part.fs != "fat32" && part.fs != "bitlocker" && part.fs != "raw") {
          p.Fail("fs", "must be \"ntfs\", \"fat32\", \"bitlocker\" or \"raw\"");
        }
      }
      if (list[i].contains("label")) part.label = p.WText(list[i]["label"], "label");
      if (!list[i].contains("size_mb")) p.Fail("size_mb", "is required");
      part.size_mb =
          static_cast<std::uint64_t>(p.Integer(list[i]["size_mb"], "size_mb", 1, 1LL << 24));
      if (list[i].contains("letter")) {
        const std::string letter = p.Text(list[i]["letter"], "letter");
        if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z')
          p.Fail("letter", "must be one letter A-Z");
        part.letter = static_cast<wchar_t>(letter[0]);
      }
      if (list[i].contains("type"))
        part.type = PartitionType(p, p.Text(list[i]["type"], "type"), d.style);
      total += part.size_mb;
      d.partitions.push_back(part);
    }
    if (d.size_mb == 0) r.Fail("size_mb", "is required for a disk with partitions");
    if (total + 2 > d.size_mb)
      r.Fail("partitions", "do not fit in size_mb (1 MB is kept at each end)");
  }
  if (object.contains("letters")) {
    const Json& letters = object["letters"];
    if (!letters.is_object()) r.Fail("letters", "must be an object");
    const JsonReader l = r.Sub("letters");
    for (auto it = letters.begin(); it != letters.end(); ++it) {
      if (it.key().size() != 1 || it.key()[0] < 'A' || it.key()[0] > 'Z')
        l.Fail(it.key(), "must be one letter A-Z");
      d.letters[static_cast<wchar_t>(it.key()[0])] =
          static_cast<int>(l.Integer(it.value(), it.key(), 1, 128));
    }
  }
  if (object.contains("rst")) {
    const JsonReader s = r.Sub("rst");
    const Json& rst = object["rst"];
    s.Only(rst, {"id", "type", "disk_type", "state", "size", "free_size", "system_disk", "usage",
                 "serial", "model"});
    RstView v;
    TakeTexts(s, rst, RstFields(v));
    d.rst = v;
  }
  return d;
}

StorageConfig ParseStorageConfig(const JsonReader& r, const Json& object, const Profile& p) {
  const JsonReader c = r.Sub("storage_config");
  c.Only(object, {"cache_device", "cache_size", "accelerated_disk", "mode", "volume_number",
                  "refuse_system_disk"});
  StorageConfig config;
  TakeTexts(c, object,
            {{"cache_device", &config.cache_device},
             {"cache_size", &config.cache_size},
             {"accelerated_disk", &config.accelerated_disk},
             {"mode", &config.mode}});
  auto listed = [&](const std::string& id) {
    for (const Disk& d : p.disks) {
      if (d.rst && d.rst->id == id) return true;
    }
    return false;
  };
  if (!config.cache_device.empty() && !listed(config.cache_device))
    c.Fail("cache_device", "must be the rst id of one of the disks");
  if (config.cache_device.empty() &&
      !(config.cache_size.empty() && config.accelerated_disk.empty() && config.mode.empty()))
    c.Fail("cache_device", "is required for a cache size, an accelerated disk or a mode");
  if (!config.cache_size.empty() && !(std::strtod(config.cache_size.c_str(), nullptr) > 0))
    c.Fail("cache_size", "must be a size in GB above 0");
  if (!config.accelerated_disk.empty() && !listed(config.accelerated_disk))
    c.Fail("accelerated_disk", "must be the rst id of one of the disks");
  if (config.accelerated_disk.empty() != config.mode.empty())
    c.Fail(config.mode.empty() ? "mode" : "accelerated_disk", "goes with the other");
  if (!config.mode.empty() && config.mode != "maximized" && config.mode != "enhanced")
    c.Fail("mode", "must be \"maximized\" or \"enhanced\"");
  if (object.contains("volume_number"))
    config.volume_number =
        static_cast<int>(c.Integer(object["volume_number"], "volume_number", 0, 1000));
  if (object.contains("refuse_system_disk"))
    config.refuse_system_disk = c.Bool(object["refuse_system_disk"], "refuse_system_disk");
  return config;
}

// The cache device is hidden from Windows; a data volume stands only beside a cache that
// leaves a remainder, and there is one such remainder.
void CheckCacheRoles(const JsonReader& r, Profile& p) {
  std::size_t volumes = 0;
  for (std::size_t i = 0; i < p.disks.size(); ++i) {
    Disk& d = p.disks[i];
    if (d.role == DiskRole::kDataVolume) {
      if (p.storage_config.cache_device.empty() || p.storage_config.cache_size.empty())
        r.Fail("disks[" + std::to_string(i) + "].role",
               "a data volume needs a cache with a cache_size (storage_config)");
      if (++volumes > 1) r.Fail("disks[" + std::to_string(i) + "].role", "only one data volume");
    } else if (d.rst && !p.storage_config.cache_device.empty() &&
               d.rst->id == p.storage_config.cache_device) {
      d.role = DiskRole::kCacheDevice;
    }
  }
}

std::vector<TempFile> ParseTempFiles(const JsonReader& r, const Json& object,
                                     const std::filesystem::path& base) {
  if (!object.is_object()) r.Fail("temp_files", "must be an object");
  const JsonReader t = r.Sub("temp_files");
  std::vector<TempFile> files;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const std::string& name = it.key();
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("\\/:") != std::string::npos)
      t.Fail(name, "must be a plain file name");
    const std::filesystem::path source = base / t.Text(it.value(), name);
    const std::optional<std::string> bytes = ReadHostFile(source);
    if (!bytes) t.Fail(name, "cannot read " + source.string());
    files.push_back(TempFile{FromUtf8(name), *bytes});
  }
  return files;
}

}  // namespace

Profile ParseProfile(const std::string& text, const std::string& file,
                     const std::filesystem::path& base) {
  Json root;
  try {
    root = Json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const Json::exception& e) {
    // Not only syntax errors: a number beyond the range of a double is out_of_range.
    throw ProfileError(file + ": invalid JSON: " + e.what());
  }
  const JsonReader r(file, "");
  r.Only(root, {"windows", "clock", "memory_kb", "firmware", "installer", "storage_tool",
                "storage_report", "storage_config", "disks", "temp_files", "faults", "arguments",
                "comment"});
  Profile p;
  p.source = FromUtf8(file);
  if (root.contains("windows")) {
    const JsonReader w = r.Sub("windows");
    const Json& win = root["windows"];
    w.Only(win, {"bits", "windows_dir", "system_dir", "temp_folder"});
    if (win.contains("bits")) {
      p.windows_bits = static_cast<int>(w.Integer(win["bits"], "bits", 32, 64));
      if (p.windows_bits != 32 && p.windows_bits != 64) w.Fail("bits", "must be 32 or 64");
    }
    if (win.contains("windows_dir")) p.windows_dir = w.WText(win["windows_dir"], "windows_dir");
    if (win.contains("system_dir")) p.system_dir = w.WText(win["system_dir"], "system_dir");
    if (win.contains("temp_folder")) p.temp_folder = w.Bool(win["temp_folder"], "temp_folder");
    for (const std::wstring* dir : {&p.windows_dir, &p.system_dir}) {
      if (dir->size() < 3 || (*dir)[1] != L':' || (*dir)[2] != L'\\') {
        w.Fail(dir == &p.windows_dir ? "windows_dir" : "system_dir",
               "must be an absolute path such as C:\\Windows");
      }
    }
  }
  if (root.contains("clock")) p.clock = ParseClock(r, r.Text(root["clock"], "clock"));
  if (root.contains("memory_kb")) {
    if (root["memory_kb"].is_null()) {
      p.memory_kb.reset();
    } else {
      p.memory_kb =
          static_cast<std::uint64_t>(r.Integer(root["memory_kb"], "memory_kb", 0, 1LL << 52));
    }
  }
  if (root.contains("firmware")) {
    if (root["firmware"].is_null()) {
      p.firmware.reset();
    } else {
      const JsonReader f = r.Sub("firmware");
      const Json& fw = root["firmware"];
      f.Only(fw, {"IFFS", "RAID0", "ISRT", "Diskeeper"});
      Firmware flags;
      if (fw.contains("IFFS")) flags.IFFS = f.Bool(fw["IFFS"], "IFFS");
      if (fw.contains("RAID0")) flags.RAID0 = f.Bool(fw["RAID0"], "RAID0");
      if (fw.contains("ISRT")) flags.ISRT = f.Bool(fw["ISRT"], "ISRT");
      if (fw.contains("Diskeeper")) flags.Diskeeper = f.Bool(fw["Diskeeper"], "Diskeeper");
      p.firmware = flags;
    }
  }
  if (root.contains("installer")) p.installer = r.Bool(root["installer"], "installer");
  if (root.contains("storage_tool")) p.storage_tool = r.Bool(root["storage_tool"], "storage_tool");
  if (root.contains("storage_report"))
    p.storage_report = base / r.Text(root["storage_report"], "storage_report");
  if (root.contains("disks")) {
    const Json& disks = root["disks"];
    if (!disks.is_array()) r.Fail("disks", "must be a list");
    for (std::size_t i = 0; i < disks.size(); ++i) {
      p.disks.push_back(ParseDisk(r.Sub("disks[" + std::to_string(i) + "]"), disks[i], base));
    }
  }
  if (root.contains("storage_config"))
    p.storage_config = ParseStorageConfig(r, root["storage_config"], p);
  CheckCacheRoles(r, p);
  if (root.contains("temp_files")) {
    if (!p.temp_folder) r.Fail("temp_files", "needs the Temp folder (windows.temp_folder)");
    p.temp_files = ParseTempFiles(r, root["temp_files"], base);
  }
  if (root.contains("arguments")) {
    const Json& args = root["arguments"];
    if (!args.is_array()) r.Fail("arguments", "must be a list of texts");
    for (std::size_t i = 0; i < args.size(); ++i) {
      p.arguments.push_back(r.Text(args[i], "arguments[" + std::to_string(i) + "]"));
    }
  }
  if (root.contains("faults")) {
    const Json& faults = root["faults"];
    if (!faults.is_array()) r.Fail("faults", "must be a list");
    for (std::size_t i = 0; i < faults.size(); ++i) {
      const std::string key = "faults[" + std::to_string(i) + "]";
      const std::string fault = r.Text(faults[i], key);
      if (const std::string problem = FaultProblem(fault, p.faults); !problem.empty())
        r.Fail(key, problem);
      p.faults.push_back(fault);
    }
  }
  return p;
}

Profile LoadProfile(const std::filesystem::path& path) {
  const std::optional<std::string> text = ReadHostFile(path);
  if (!text) throw ProfileError(path.string() + ": cannot be read");
  return ParseProfile(*text, path.string(), path.parent_path());
}

Profile DefaultProfile() {
  Profile p =
      ParseProfile(kDefaultProfileJson, "(built-in default notebook)", std::filesystem::path());
  p.source = L"(built-in default notebook)";
  return p;
}

}  // namespace sim
