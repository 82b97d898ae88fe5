// The profile loader's top: the document and its top-level keys. The disks, the captured disks,
// the storage configuration and the files a profile names are read in their own files
// (loader_parts.h).
#include "sim/profile/profile.h"

#include <cctype>

#include "sim/core/text.h"
#include "sim/core/windows_path.h"
#include "sim/profile/default_profile.h"
#include "sim/profile/fault_list.h"
#include "sim/profile/loader_parts.h"

namespace sim {

namespace {

using Json = nlohmann::json;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// "YYYY-MM-DD hh:mm:ss", every digit written, naming a second that exists: the clock's
// arithmetic (Machine::Now) takes the date as a real one.
os::LocalTime ParseClock(const JsonReader& r, const std::string& text) {
  static const char kForm[] = "dddd-dd-dd dd:dd:dd";
  bool form = text.size() == sizeof(kForm) - 1;
  for (std::size_t i = 0; form && i < text.size(); ++i) {
    form = kForm[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0
                           : text[i] == kForm[i];
  }
  if (!form) r.Fail("clock", "must be a time 'YYYY-MM-DD hh:mm:ss'");
  auto number = [&text](std::size_t at, std::size_t digits) {
    return std::stoi(text.substr(at, digits));
  };
  os::LocalTime t;
  t.year = number(0, 4);
  t.month = number(5, 2);
  t.day = number(8, 2);
  t.hour = number(11, 2);
  t.minute = number(14, 2);
  t.second = number(17, 2);
  // A run's pauses move the clock on; the year stays four digits for the run log's stamps.
  if (t.year < 1601 || t.year > 9998 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59) {
    r.Fail("clock", "'" + text +
                        "' is no time of the calendar (year 1601-9998, month 1-12, a day the "
                        "month has, hour 0-23, minute and second 0-59)");
  }
  return t;
}

// The Windows and system folders: absolute, on one drive, and folders the simulated machine
// holds (no "..", device name, \\?\ prefix, ...), so that nothing the product writes there can
// land outside the run folder.
void ParseWindows(const JsonReader& r, const Json& root, Profile& p) {
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
  const wchar_t drive = SystemDrive(p.windows_dir);
  for (const auto& [dir, key] :
       {std::pair{&p.windows_dir, "windows_dir"}, std::pair{&p.system_dir, "system_dir"}}) {
    if (dir->size() < 3 || (*dir)[1] != L':' || (*dir)[2] != L'\\')
      w.Fail(key, "must be an absolute path such as C:\\Windows");
    const WindowsPath split = SplitWindowsPath(*dir, drive);
    if (split.error != 0) {
      w.Fail(key,
             "must be a folder on the Windows folder's drive that the simulated notebook "
             "holds, below its root: " +
                 split.problem);
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
    if (IsDeviceName(FromUtf8(name))) t.Fail(name, "is a device name, not a file name");
    const std::filesystem::path source = base / t.Text(it.value(), name);
    files.push_back(TempFile{FromUtf8(name), ReadInputFile(t, name, source, kTempFileLimit)});
  }
  return files;
}

// { "D": ["pagefile.sys"] }: plain file names at the roots of lettered volumes.
std::map<wchar_t, std::vector<std::wstring>> ParseVolumeFiles(const JsonReader& r,
                                                              const Json& object) {
  if (!object.is_object()) r.Fail("volume_files", "must be an object of letters");
  std::map<wchar_t, std::vector<std::wstring>> files;
  const JsonReader v = r.Sub("volume_files");
  for (const auto& [letter, names] : object.items()) {
    if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z')
      v.Fail(letter, "must be one letter A-Z");
    if (!names.is_array()) v.Fail(letter, "must be a list of file names");
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string key = letter + "[" + std::to_string(i) + "]";
      const std::wstring name = v.WText(names[i], key);
      if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos)
        v.Fail(key, "must be a plain file name");
      files[static_cast<wchar_t>(letter[0])].push_back(name);
    }
  }
  return files;
}

}  // namespace

Profile ParseProfile(const std::string& text, const std::string& file,
                     const std::filesystem::path& base) {
  const Json root = ParseStrictJson(text, file);
  const JsonReader r(file, "");
  r.Only(root, {"windows", "clock", "memory_kb", "firmware", "installer", "storage_tool",
                "storage_report", "storage_config", "disks", "temp_files", "faults", "arguments",
                "diskpart_refuses_system_disk", "volume_files", "comment"});
  Profile p;
  p.source = FromUtf8(file);
  if (root.contains("windows")) ParseWindows(r, root, p);
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
  if (root.contains("diskpart_refuses_system_disk")) {
    p.diskpart_refuses_system_disk =
        r.Bool(root["diskpart_refuses_system_disk"], "diskpart_refuses_system_disk");
  }
  if (root.contains("volume_files")) p.volume_files = ParseVolumeFiles(r, root["volume_files"]);
  if (root.contains("storage_report")) {
    // The storage tool reads it whole for each -I.
    p.storage_report = base / r.Text(root["storage_report"], "storage_report");
    CheckInputFile(r, "storage_report", p.storage_report, 0, kWholeFileLimit);
  }
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
  CheckDisksDiffer(r, p);
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
  std::string problem;
  const std::optional<std::string> text = ReadInputFile(path, kWholeFileLimit, &problem);
  if (!text) throw ProfileError(path.string() + ": " + problem);
  return ParseProfile(*text, path.string(), path.parent_path());
}

Profile DefaultProfile() {
  Profile p =
      ParseProfile(kDefaultProfileJson, "(built-in default notebook)", std::filesystem::path());
  p.source = L"(built-in default notebook)";
  return p;
}

}  // namespace sim
