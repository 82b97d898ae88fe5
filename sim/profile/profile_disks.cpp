// disks[]: each disk's WMI properties, drive, rotation, contents (an image, a layout or a
// capture), letters and storage-tool view, and what must differ from one disk to another.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "sim/core/text.h"
#include "sim/profile/loader_parts.h"

namespace sim {

namespace {

using Json = nlohmann::json;

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
    } else if (v.is_number()) {
      // The same number written 5.0E11: its decimal digits, not the double's text.
      p.value.kind = os::WmiValue::Kind::Text;
      p.value.text = std::to_wstring(w.Integer(v, it.key(), -(1LL << 62), 1LL << 62));
    } else {
      p.value.kind = os::WmiValue::Kind::Text;
      p.value.text = w.WText(v, it.key());
    }
    out.push_back(std::move(p));
  }
  return out;
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

}  // namespace

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
  } else if (d.drive && (*d.drive < 0 || *d.drive > 1000)) {
    // The Index stands in for the drive number, which must be one a drive can have.
    r.Fail("wmi.Index", "is " + std::to_string(*d.drive) +
                            ", not a drive number 0-1000; give \"drive\" (a number or null) too");
  }
  if (object.contains("rotation")) {
    const Json& v = object["rotation"];
    if (v.is_number()) {
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
    CheckInputFile(r, "image", d.image, kSectorBytes, kLargestDiskBytes);
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
    // What the tables and file systems laid out here can hold; past it the disk would come out
    // without its table, silently.
    constexpr std::uint64_t kTwoTiBInMiB = 1u << 21;  // 2^32 sectors of 512 bytes
    if (list.size() > 128) r.Fail("partitions", "at most 128 (a GPT table holds 128 entries)");
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
      if (part.fs == "fat32" && part.size_mb >= kTwoTiBInMiB)
        p.Fail("size_mb", "a FAT32 volume must stay below 2 TiB (2097152 MB)");
      total += part.size_mb;
      d.partitions.push_back(part);
    }
    if (d.size_mb == 0) r.Fail("size_mb", "is required for a disk with partitions");
    if (total + 2 > d.size_mb)
      r.Fail("partitions", "do not fit in size_mb (1 MB is kept at each end)");
    if (d.style == "mbr" && total + 1 >= kTwoTiBInMiB)
      r.Fail("partitions", "reach past 2 TiB, which an MBR table cannot address");
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
    s.TakeTexts(rst, RstFields(v));
    d.rst = v;
  }
  return d;
}

// Windows numbers each disk it sees once (its WMI Index, its physical drive) and gives a drive
// letter to one volume. A profile that repeats one describes no notebook, and the simulator
// would answer for whichever disk it found first.
void CheckDisksDiffer(const JsonReader& r, const Profile& p) {
  std::map<long long, std::size_t> indices, drives;
  std::map<wchar_t, std::string> letters;  // letter -> the key that gave it
  auto taken = [&r](std::map<long long, std::size_t>& seen, long long number, std::size_t disk,
                    const std::string& key, const std::string& what) {
    const auto [at, fresh] = seen.emplace(number, disk);
    if (!fresh) {
      r.Fail(key, what + " " + std::to_string(number) + " is also disks[" +
                      std::to_string(at->second) + "]'s; Windows numbers each disk once");
    }
  };
  for (std::size_t i = 0; i < p.disks.size(); ++i) {
    const Disk& d = p.disks[i];
    if (!SeenByWindows(d)) continue;  // the cache's device: its number and letters are gone
    const std::string disk = "disks[" + std::to_string(i) + "]";
    for (const WmiProperty& w : d.wmi) {
      if (w.name == L"Index" && w.value.kind == os::WmiValue::Kind::Int32)
        taken(indices, w.value.i32, i, disk + ".wmi.Index", "Index");
    }
    // A disk without a "drive" key has its Index as its drive number.
    if (d.drive) taken(drives, *d.drive, i, disk + ".drive", "physical drive");
    auto letter = [&](wchar_t l, const std::string& key) {
      const auto [at, fresh] = letters.emplace(l, key);
      if (!fresh) {
        r.Fail(key, "drive letter " + std::string(1, static_cast<char>(l)) + ": is also given by " +
                        at->second + "; Windows gives a letter to one volume");
      }
    };
    for (std::size_t k = 0; k < d.partitions.size(); ++k) {
      if (d.partitions[k].letter != 0)
        letter(d.partitions[k].letter, disk + ".partitions[" + std::to_string(k) + "].letter");
    }
    for (const auto& [l, number] : d.letters) {
      letter(l, disk + ".letters." + std::string(1, static_cast<char>(l)));
    }
  }
  // The number a new data volume takes must be free: the cache's device gives its own up, the
  // other disks keep theirs.
  const std::optional<int> volume = p.storage_config.volume_number;
  for (std::size_t i = 0; volume && i < p.disks.size(); ++i) {
    const Disk& d = p.disks[i];
    if (d.role != DiskRole::kDevice) continue;
    bool taken = d.drive && *d.drive == *volume;
    for (const WmiProperty& w : d.wmi) {
      taken |=
          w.name == L"Index" && w.value.kind == os::WmiValue::Kind::Int32 && w.value.i32 == *volume;
    }
    if (taken) {
      r.Fail("storage_config.volume_number",
             std::to_string(*volume) + " is disks[" + std::to_string(i) +
                 "]'s number, which Windows gives no second disk (leave volume_number out for "
                 "the number the cache's device had)");
    }
  }
}

}  // namespace sim
