// The simulated diskpart: reads its script once at start (as diskpart does, so a writer that
// still has the file open is no obstacle) and applies it line by line to the disk images.
#include "sim/programs/diskpart.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "sim/core/text.h"
#include "sim/devices/physical_drive.h"
#include "sim/devices/volumes.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/file_systems.h"
#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"
#include "sim/programs/std_streams.h"

namespace sim {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A word of the script matches a keyword when it is the keyword or at least its first three
// letters, in any case.
bool Is(const std::string& word, const std::string& keyword) {
  const std::string w = Lower(word);
  return w == keyword || (w.size() >= 3 && keyword.compare(0, w.size(), w) == 0);
}

// The words of a line; quotes group blanks, and "key = value" becomes one word "key=value".
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> raw;
  std::string word;
  bool quoted = false, inWord = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (IsBlank(c) && !quoted) {
      if (inWord) raw.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    word.push_back(c);
    inWord = true;
  }
  if (inWord) raw.push_back(word);
  std::vector<std::string> words;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    std::string w = raw[i];
    if (w.front() == '=' && !words.empty()) {
      words.back() += w;
      w = words.back();
      words.pop_back();
    }
    while (w.back() == '=' && i + 1 < raw.size()) w += raw[++i];
    words.push_back(w);
  }
  return words;
}

// "key=value" with the key in lower case and the value unquoted.
struct Parameter {
  std::string key, value;
  bool hasValue = false;
};

Parameter Split(const std::string& word) {
  Parameter p;
  const std::size_t eq = word.find('=');
  p.key = Lower(word.substr(0, eq));
  if (eq != std::string::npos) {
    p.hasValue = true;
    p.value = word.substr(eq + 1);
    if (p.value.size() >= 2 && p.value.front() == '"' && p.value.back() == '"') {
      p.value = p.value.substr(1, p.value.size() - 2);
    }
  }
  return p;
}

std::optional<std::uint64_t> Number(const std::string& text, int base, std::uint64_t max) {
  std::string digits = text;
  if (base == 16 && digits.size() > 2 && digits[0] == '0' &&
      (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                      ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                      : -1;
    if (d < 0) return std::nullopt;
    if (value > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) {
      return std::nullopt;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  return value;
}

bool IsGuidText(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// A partition id that is the same on every run, from the disk and the partition's place.
Guid NewPartitionId(int disk, std::uint64_t offset) {
  Guid g{};
  std::uint64_t x = 0xD15C9A27ull ^ (static_cast<std::uint64_t>(disk + 1) << 40) ^ offset;
  for (std::size_t i = 0; i < g.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    g[i] = static_cast<std::uint8_t>(x >> 24);
  }
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);
  return g;
}

struct Session {
  Session(Machine& m, DiskpartRun& r) : machine(m), run(r) {}
  Machine& machine;
  DiskpartRun& run;
  int disk = -1;                           // profile index of the selected disk
  int drive = -1;                          // its drive number
  std::optional<std::uint64_t> partition;  // offset of the selected partition

  void Say(const std::string& text) { run.output += "\r\n" + text + "\r\n"; }
  std::uint32_t Fail(std::uint32_t code, const std::string& text) {
    Say(text);
    run.error = text;
    return code;
  }
  std::uint32_t BadArguments(const std::string& command) {
    return Fail(kDiskpartSyntaxError,
                "The arguments specified for this command are not valid.\r\n"
                "For more information on the command type: HELP " +
                    command);
  }
  std::uint32_t ServiceError(const std::string& text) {
    return Fail(kDiskpartServiceError, "Virtual Disk Service error:\r\n" + text);
  }
  std::uint32_t NoDisk() {
    return Fail(kDiskpartSyntaxError,
                "There is no disk selected.\r\nPlease select a disk and try again.");
  }
  std::uint32_t NoPartition() {
    return Fail(kDiskpartSyntaxError,
                "There is no partition selected.\r\nPlease select a partition and try again.");
  }

  // The selected partition's entry in the layout, or nullptr.
  LayoutEntry* Selected(DiskLayout& layout) {
    if (!partition) return nullptr;
    for (LayoutEntry& e : layout.entries) {
      if (e.number != 0 && e.offset == *partition) return &e;
    }
    return nullptr;
  }

  std::uint32_t Select(const std::vector<std::string>& w) {
    if (w.size() == 3 && Is(w[1], "disk")) {
      const auto n = Number(w[2], 10, 0x7FFFFFFF);
      const int found = n ? FindDriveDisk(machine, static_cast<int>(*n)) : -1;
      if (found < 0) {
        disk = drive = -1;
        partition.reset();
        return Fail(kDiskpartSyntaxError,
                    "The disk you specified is not valid.\r\n\r\nThere is no disk selected.");
      }
      disk = found;
      drive = static_cast<int>(*n);
      partition.reset();
      Say("Disk " + std::to_string(drive) + " is now the selected disk.");
      return 0;
    }
    if (w.size() == 3 && Is(w[1], "partition")) {
      if (disk < 0) return NoDisk();
      const auto n = Number(w[2], 10, 0xFFFFFFFF);
      for (const LayoutEntry& e : ReadDiskLayout(machine, disk).entries) {
        if (n && e.number != 0 && e.number == *n) {
          partition = e.offset;
          Say("Partition " + std::to_string(*n) + " is now the selected partition.");
          return 0;
        }
      }
      partition.reset();
      return Fail(kDiskpartSyntaxError,
                  "The partition you specified is not valid.\r\n"
                  "Please select a valid partition.\r\n\r\nThere is no partition selected.");
    }
    return BadArguments("SELECT");
  }

  bool HoldsSystemVolume() {
    for (const Volume& v : ListVolumes(machine)) {
      if (v.letter == L'C' && v.disk == disk) return true;
    }
    return false;
  }

  std::uint32_t Clean(const std::vector<std::string>& w) {
    if (w.size() != 1) return BadArguments("CLEAN");
    if (disk < 0) return NoDisk();
    if (HoldsSystemVolume()) {
      return ServiceError(
          "Clean is not allowed on the disk containing the current boot,\r\n"
          "system, pagefile, crashdump or hibernation volume.");
    }
    if (!LayOutDisk(machine, disk, "", {})) return ServiceError("The device is not ready.");
    partition.reset();
    Say("DiskPart succeeded in cleaning the disk.");
    return 0;
  }

  std::uint32_t Convert(const std::vector<std::string>& w) {
    if (w.size() != 2 || (!Is(w[1], "gpt") && !Is(w[1], "mbr"))) return BadArguments("CONVERT");
    if (disk < 0) return NoDisk();
    const bool gpt = Is(w[1], "gpt");
    const DiskLayout layout = ReadDiskLayout(machine, disk);
    const bool empty = std::none_of(layout.entries.begin(), layout.entries.end(),
                                    [](const LayoutEntry& e) { return e.length != 0; });
    if (!empty || layout.style == (gpt ? DiskLayout::kGpt : DiskLayout::kMbr)) {
      return ServiceError(
          "The specified disk is not convertible. CDROMs and DVDs\r\n"
          "are examples of disks that are not convertible.");
    }
    if (!LayOutDisk(machine, disk, gpt ? "gpt" : "mbr", {})) {
      return ServiceError("The device is not ready.");
    }
    partition.reset();
    Say(std::string("DiskPart successfully converted the selected disk to ") +
        (gpt ? "GPT" : "MBR") + " format.");
    return 0;
  }

  // The first free space of the disk, from a 1 MiB boundary on, of at least `wanted` bytes
  // (0: any, all of it).
  std::optional<std::pair<std::uint64_t, std::uint64_t>> FreeSpace(const DiskLayout& layout,
                                                                   std::uint64_t wanted) {
    std::uint64_t begin = 0, end = 0;
    if (layout.style == DiskLayout::kGpt) {
      begin = layout.first_usable;
      // A damaged header may claim more than the disk holds.
      end = std::min(layout.first_usable + layout.usable_length, DiskBytes(machine, disk));
    } else {
      begin = kSectorBytes;
      end = std::min<std::uint64_t>(DiskBytes(machine, disk) / kSectorBytes * kSectorBytes,
                                    0xFFFFFFFFull * kSectorBytes);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> used;
    for (const LayoutEntry& e : layout.entries) {
      if (e.length != 0) used.emplace_back(e.offset, e.offset + e.length);
    }
    std::sort(used.begin(), used.end());
    std::uint64_t at = begin;
    auto fits = [&](std::uint64_t from,
                    std::uint64_t to) -> std::optional<std::pair<std::uint64_t, std::uint64_t>> {
      const std::uint64_t start = (from + kMiB - 1) / kMiB * kMiB;
      if (start >= to) return std::nullopt;
      const std::uint64_t room = to - start;
      if (wanted != 0) {
        if (room < wanted) return std::nullopt;
        return std::make_pair(start, wanted);
      }
      if (room < kMiB) return std::nullopt;
      return std::make_pair(start, room);
    };
    for (const auto& [from, to] : used) {
      if (from > at) {
        if (auto space = fits(at, std::min(from, end))) return space;
      }
      at = std::max(at, to);
    }
    return fits(at, end);
  }

  std::uint32_t Create(const std::vector<std::string>& w) {
    if (w.size() < 3 || !Is(w[1], "partition") || (!Is(w[2], "efi") && !Is(w[2], "primary"))) {
      return BadArguments("CREATE");
    }
    const bool efi = Is(w[2], "efi");
    std::uint64_t wanted = 0;
    std::optional<std::string> id;
    for (std::size_t i = 3; i < w.size(); ++i) {
      const Parameter p = Split(w[i]);
      if (p.key == "size" && p.hasValue) {
        const auto mb = Number(p.value, 10, 0xFFFFFFFFFFFull);
        if (!mb || *mb == 0) return BadArguments("CREATE");
        wanted = *mb * kMiB;
      } else if (p.key == "id" && p.hasValue && !efi) {
        id = p.value;
      } else if (p.key != "noerr") {
        return BadArguments("CREATE");
      }
    }
    if (disk < 0) return NoDisk();
    DiskLayout layout = ReadDiskLayout(machine, disk);
    if (layout.style == DiskLayout::kRaw && !efi) {
      // A disk without a table is initialised as MBR first.
      if (!LayOutDisk(machine, disk, "mbr", {})) return ServiceError("The device is not ready.");
      layout = ReadDiskLayout(machine, disk);
    }
    if (efi && layout.style != DiskLayout::kGpt) {
      return ServiceError("The operation is not supported by the object.");
    }
    std::optional<std::uint8_t> mbrType;
    std::optional<Guid> gptType;
    if (id && layout.style == DiskLayout::kMbr) {
      const auto byte = Number(*id, 16, 0xFF);
      if (!byte || *byte == 0) return BadArguments("CREATE");
      mbrType = static_cast<std::uint8_t>(*byte);
    } else if (id) {
      if (!IsGuidText(*id)) return BadArguments("CREATE");
      gptType = ParseGuid(*id);
    }
    const auto space = FreeSpace(layout, wanted);
    if (!space) return ServiceError("There is not enough usable space for this operation.");
    LayoutEntry e;
    e.offset = space->first;
    e.length = space->second / kSectorBytes * kSectorBytes;
    if (layout.style == DiskLayout::kGpt) {
      e.gpt_type = gptType ? *gptType : ParseGuid(efi ? kGptEfiSystem : kGptBasicData);
      e.gpt_id = NewPartitionId(disk, e.offset);
      const std::string name = efi ? "EFI system partition" : "Basic data partition";
      e.gpt_name.assign(name.begin(), name.end());
      layout.entries.push_back(e);
    } else {
      e.mbr_type = mbrType ? *mbrType : 0x07;
      auto slot = std::find_if(layout.entries.begin(), layout.entries.begin() + 4,
                               [](const LayoutEntry& x) { return x.mbr_type == 0; });
      if (slot == layout.entries.begin() + 4) {
        return ServiceError("The disk has reached the maximum number of partitions.");
      }
      *slot = e;
    }
    if (!WritePartitionTable(machine, disk, layout)) {
      return ServiceError("The device is not ready.");
    }
    partition = e.offset;
    Say("DiskPart succeeded in creating the specified partition.");
    return 0;
  }

  std::uint32_t Format(const std::vector<std::string>& w) {
    std::string fs = "ntfs";
    std::wstring label;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const Parameter p = Split(w[i]);
      if (p.key == "fs" && p.hasValue && (Lower(p.value) == "fat32" || Lower(p.value) == "ntfs")) {
        fs = Lower(p.value);
      } else if (p.key == "label" && p.hasValue) {
        label = FromUtf8(p.value);
      } else if (p.hasValue || (!Is(p.key, "quick") && !Is(p.key, "override") && p.key != "noerr" &&
                                p.key != "nowait")) {
        return BadArguments("FORMAT");
      }
    }
    if (disk < 0 || !partition) {
      return Fail(kDiskpartSyntaxError,
                  "There is no volume selected.\r\nPlease select a volume and try again.");
    }
    DiskLayout layout = ReadDiskLayout(machine, disk);
    const LayoutEntry* e = Selected(layout);
    if (e == nullptr) return NoPartition();
    if (!FormatPartition(machine, disk, e->offset, e->length, fs, label)) {
      return ServiceError("The volume size is too small.");
    }
    Say("  100 percent completed\r\n\r\nDiskPart successfully formatted the volume.");
    return 0;
  }

  std::uint32_t SetId(const std::vector<std::string>& w) {
    std::optional<std::string> id;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const Parameter p = Split(w[i]);
      if (p.key == "id" && p.hasValue && !id) {
        id = p.value;
      } else if (p.hasValue || (!Is(p.key, "override") && p.key != "noerr")) {
        return BadArguments("SET");
      }
    }
    if (!id) return BadArguments("SET");
    if (disk < 0) return NoDisk();
    DiskLayout layout = ReadDiskLayout(machine, disk);
    LayoutEntry* e = Selected(layout);
    if (e == nullptr) return NoPartition();
    if (layout.style == DiskLayout::kGpt) {
      if (!IsGuidText(*id)) return BadArguments("SET");
      e->gpt_type = ParseGuid(*id);
    } else {
      const auto byte = Number(*id, 16, 0xFF);
      if (!byte || *byte == 0) return BadArguments("SET");
      e->mbr_type = static_cast<std::uint8_t>(*byte);
    }
    if (!WritePartitionTable(machine, disk, layout)) {
      return ServiceError("The device is not ready.");
    }
    Say("DiskPart successfully set the partition ID.");
    return 0;
  }

  std::uint32_t Attributes(const std::vector<std::string>& w) {
    const Parameter p = w.size() == 2 ? Split(w[1]) : Parameter{};
    const auto value = p.hasValue && Is(p.key, "attributes")
                           ? Number(p.value, 16, 0xFFFFFFFFFFFFFFFFull)
                           : std::nullopt;
    if (!value) return BadArguments("GPT");
    if (disk < 0) return NoDisk();
    DiskLayout layout = ReadDiskLayout(machine, disk);
    LayoutEntry* e = Selected(layout);
    if (e == nullptr) return NoPartition();
    if (layout.style != DiskLayout::kGpt) {
      return Fail(kDiskpartSyntaxError, "The selected disk is not a GPT disk.");
    }
    e->gpt_attributes = *value;
    if (!WritePartitionTable(machine, disk, layout)) {
      return ServiceError("The device is not ready.");
    }
    Say("DiskPart successfully assigned the attributes to the selected GPT partition.");
    return 0;
  }

  // Runs one line: 0, or the exit code diskpart ends with.
  std::uint32_t Line(const std::string& line, bool* leave) {
    const std::vector<std::string> w = Words(line);
    if (w.empty() || Lower(w[0]) == "rem") return 0;
    if (Is(w[0], "select")) return Select(w);
    if (Is(w[0], "clean")) return Clean(w);
    if (Is(w[0], "convert")) return Convert(w);
    if (Is(w[0], "create")) return Create(w);
    if (Is(w[0], "format")) return Format(w);
    if (Is(w[0], "set")) return SetId(w);
    if (Is(w[0], "gpt")) return Attributes(w);
    if (Is(w[0], "exit")) {
      *leave = true;
      return 0;
    }
    return Fail(kDiskpartSyntaxError,
                "Microsoft DiskPart version 6.2.9200\r\n\r\n"
                "CLEAN       - Clear the configuration information, or all information, off the\r\n"
                "              disk.\r\n"
                "CONVERT     - Convert between different disk formats.\r\n"
                "CREATE      - Create a volume, partition or virtual disk.\r\n"
                "EXIT        - Exit DiskPart.\r\n"
                "FORMAT      - Format the volume or partition.\r\n"
                "GPT         - Assign attributes to the selected GPT partition.\r\n"
                "REM         - Does nothing. This is used to comment scripts.\r\n"
                "SELECT      - Shift the focus to an object.\r\n"
                "SET         - Change the partition type.");
  }
};

std::string ComputerName(const Machine& machine) {
  for (const Disk& d : machine.profile().disks) {
    for (const WmiProperty& p : d.wmi) {
      if (p.name == L"SystemName" && p.value.kind == os::WmiValue::Kind::Text) {
        return ToUtf8(p.value.text);
      }
    }
  }
  return "NOTEBOOK";
}

// The script path after "/s", quoted or not; empty when the arguments are not "/s PATH".
std::wstring ScriptPath(const std::wstring& parameters) {
  std::size_t i = 0;
  while (i < parameters.size() && (parameters[i] == L' ' || parameters[i] == L'\t')) ++i;
  if (i + 2 > parameters.size() || (parameters[i] != L'/' && parameters[i] != L'-') ||
      (parameters[i + 1] != L's' && parameters[i + 1] != L'S')) {
    return std::wstring();
  }
  i += 2;
  if (i < parameters.size() && parameters[i] != L' ' && parameters[i] != L'\t') return {};
  while (i < parameters.size() && (parameters[i] == L' ' || parameters[i] == L'\t')) ++i;
  std::wstring path = parameters.substr(i);
  while (!path.empty() && (path.back() == L' ' || path.back() == L'\t')) path.pop_back();
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
    path = path.substr(1, path.size() - 2);
  }
  if (path.find(L'"') != std::wstring::npos) return std::wstring();
  return path;
}

std::uint32_t RunDiskpart(Machine& machine, const std::wstring& parameters,
                          const std::wstring& directory) {
  DiskpartState& state = Diskpart(machine);
  state.runs.emplace_back();
  DiskpartRun& run = state.runs.back();
  run.parameters = parameters;
  // The runner puts the transcript line in before the child starts.
  run.transcript_line = machine.transcript().empty() ? 0 : machine.transcript().size() - 1;
  run.output =
      "\r\nMicrosoft DiskPart version 6.2.9200\r\n\r\n"
      "Copyright (C) 1999-2012 Microsoft Corporation.\r\n"
      "On computer: " +
      ComputerName(machine) + "\r\n";
  auto finish = [&](std::uint32_t code) {
    run.exit_code = code;
    WriteStdout(machine, run.output);
    return code;
  };
  run.script = ScriptPath(parameters);
  if (run.script.empty()) {
    run.error = "The arguments specified for this command are not valid.";
    run.output += "\r\n" + run.error + "\r\nUsage: diskpart /s SCRIPT\r\n";
    return finish(kDiskpartBadArguments);
  }
  std::wstring path = run.script;
  const bool absolute = (path.size() >= 2 && path[1] == L':') || path[0] == L'\\';
  if (!absolute && !directory.empty()) path = directory + L"\\" + path;
  const std::optional<std::string> raw = machine.ReadFile(path);
  if (!raw) {
    run.error = "The system cannot find the file specified.";
    run.output += "\r\n" + run.error + "\r\n";
    return finish(kDiskpartNoScript);
  }
  // The script is read in the ANSI code page; every byte of the product's scripts stands for
  // the character of the same number.
  std::wstring wide;
  for (char c : *raw) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  const std::string text = ToUtf8(wide);
  const std::string* bytes = &text;
  std::size_t start = 0;
  while (start <= bytes->size()) {
    std::size_t end = bytes->find('\n', start);
    if (end == std::string::npos) end = bytes->size();
    std::string line = bytes->substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (IsBlank(line.back()) || line.back() == '\r')) line.pop_back();
    std::size_t lead = 0;
    while (lead < line.size() && IsBlank(line[lead])) ++lead;
    line.erase(0, lead);
    if (!line.empty()) run.lines.push_back(line);
  }
  Session session(machine, run);
  for (const std::string& line : run.lines) {
    bool leave = false;
    const std::uint32_t code = session.Line(line, &leave);
    if (code != 0) {
      run.failed_line = line;
      return finish(code);
    }
    run.applied.push_back(line);
    if (leave) break;
  }
  run.output += "\r\nLeaving DiskPart...\r\n";
  return finish(0);
}

}  // namespace

void SetUpDiskpart(Machine& machine) {
  machine.RegisterProgram(machine.profile().system_dir + L"\\diskpart.exe", RunDiskpart);
}

}  // namespace sim
