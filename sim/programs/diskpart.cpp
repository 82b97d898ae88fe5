// The simulated diskpart: reads its script once at start (as diskpart does, so a writer that
// still has the file open is no obstacle) and applies it line by line to the disk images.
#include "sim/programs/diskpart.h"

#include <optional>

#include "sim/core/text.h"
#include "sim/programs/diskpart_commands.h"
#include "sim/programs/diskpart_script.h"
#include "sim/programs/std_streams.h"

namespace sim {

namespace {

using diskpart_script::IsBlank;

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
  return finish(ApplyDiskpartScript(machine, &run));
}

}  // namespace

void SetUpDiskpart(Machine& machine) {
  machine.RegisterProgram(machine.profile().system_dir + L"\\diskpart.exe", RunDiskpart);
}

}  // namespace sim
