// The simulated command interpreter: the part of cmd.exe the product uses, "/c" with a program
// or "echo" and output redirections.
#include "sim/programs/cmd_exe.h"

#include <string_view>
#include <vector>

#include "sim/core/text.h"
#include "sim/programs/std_streams.h"

namespace sim {

namespace {

struct Redirection {
  std::wstring file;
  bool append = false;
};

// The command text with every redirection cut out (what is left keeps its blanks, as in cmd:
// "echo x > f" prints "x "), and the redirections in their order.
struct CommandLine {
  std::wstring text;
  std::vector<Redirection> redirections;
  bool syntaxError = false;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

CommandLine SplitRedirections(std::wstring_view command) {
  CommandLine out;
  bool quoted = false;
  std::size_t i = 0;
  while (i < command.size()) {
    const wchar_t c = command[i];
    if (c == L'"') quoted = !quoted;
    if (c != L'>' || quoted) {
      out.text.push_back(c);
      ++i;
      continue;
    }
    Redirection r;
    r.append = i + 1 < command.size() && command[i + 1] == L'>';
    i += r.append ? 2 : 1;
    while (i < command.size() && IsBlank(command[i])) ++i;
    if (i < command.size() && command[i] == L'"') {
      const std::size_t close = command.find(L'"', i + 1);
      const std::size_t end = close == std::wstring_view::npos ? command.size() : close;
      r.file = std::wstring(command.substr(i + 1, end - i - 1));
      i = close == std::wstring_view::npos ? end : end + 1;
    } else {
      const std::size_t start = i;
      while (i < command.size() && !IsBlank(command[i]) && command[i] != L'>') ++i;
      r.file = std::wstring(command.substr(start, i - start));
    }
    if (r.file.empty()) out.syntaxError = true;
    out.redirections.push_back(std::move(r));
  }
  return out;
}

std::wstring Trim(std::wstring_view text) {
  std::size_t start = 0, end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return std::wstring(text.substr(start, end - start));
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 2 && path[1] == L':') || (!path.empty() && path[0] == L'\\');
}

std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
  if (IsAbsolute(name) || folder.empty()) return name;
  return folder + L"\\" + name;
}

// The program a command names: as written when it has a folder, else from the working folder
// or the system folder; ".exe" is tried when the name has no extension.
const Program* FindCommand(Machine& machine, const std::wstring& name, const std::wstring& dir) {
  std::vector<std::wstring> candidates;
  if (name.find_first_of(L"\\:") != std::wstring::npos) {
    candidates.push_back(name);
  } else {
    candidates.push_back(InFolder(dir, name));
    candidates.push_back(InFolder(machine.profile().system_dir, name));
  }
  const std::size_t slash = name.find_last_of(L"\\:");
  const bool hasExtension =
      name.find(L'.', slash == std::wstring::npos ? 0 : slash + 1) != std::wstring::npos;
  for (const std::wstring& candidate : candidates) {
    if (const Program* p = machine.FindProgram(candidate)) return p;
    if (!hasExtension) {
      if (const Program* p = machine.FindProgram(candidate + L".exe")) return p;
    }
  }
  return nullptr;
}

std::uint32_t RunCommand(Machine& machine, const std::wstring& parameters,
                         const std::wstring& directory) {
  std::wstring_view rest(parameters);
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  if (rest.size() < 2 || rest[0] != L'/' || (rest[1] != L'c' && rest[1] != L'C') ||
      (rest.size() > 2 && !IsBlank(rest[2]))) {
    WriteStderr(machine, "cmd.exe (simulated): only /c COMMAND is simulated\r\n");
    return 1;
  }
  rest.remove_prefix(2);
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);

  const CommandLine command = SplitRedirections(rest);
  if (command.syntaxError) {
    WriteStderr(machine, "The syntax of the command is incorrect.\r\n");
    return 1;
  }
  // cmd opens every redirection before it looks for the program, so "> file" leaves an empty
  // file even when the program does not exist.
  for (const Redirection& r : command.redirections) {
    if (!machine.WriteFile(InFolder(directory, r.file), std::string(), r.append)) {
      WriteStderr(machine, "The system cannot find the path specified.\r\n");
      return 1;
    }
  }

  std::string output;
  std::uint32_t exitCode = 0;
  {
    StdoutCapture capture(machine, &output);
    const std::wstring& text = command.text;
    std::size_t tokenEnd = 0;
    std::wstring name;
    if (!text.empty() && text[0] == L'"') {
      const std::size_t close = text.find(L'"', 1);
      tokenEnd = close == std::wstring::npos ? text.size() : close + 1;
      name = text.substr(1, (close == std::wstring::npos ? text.size() : close) - 1);
    } else {
      while (tokenEnd < text.size() && !IsBlank(text[tokenEnd])) ++tokenEnd;
      name = text.substr(0, tokenEnd);
    }
    if (UpperPath(name) == L"ECHO" && text[0] != L'"') {
      // The text after "echo" and its one separator, blanks kept.
      const std::wstring said = tokenEnd < text.size() ? text.substr(tokenEnd + 1) : std::wstring();
      WriteStdout(machine, Trim(said).empty() ? "ECHO is on.\r\n" : ToUtf8(said) + "\r\n");
    } else if (name.empty()) {
      exitCode = 0;
    } else if (const Program* program = FindCommand(machine, name, directory)) {
      const Program handler = *program;
      exitCode = handler(machine, Trim(std::wstring_view(text).substr(tokenEnd)), directory);
    } else {
      std::string message(1, '\'');
      message += ToUtf8(name);
      message +=
          "' is not recognized as an internal or external command,\r\n"
          "operable program or batch file.\r\n";
      WriteStderr(machine, message);
      exitCode = kCmdNotRecognized;
    }
  }
  if (command.redirections.empty()) {
    WriteStdout(machine, output);  // cmd's own standard output, whatever its parent made it
  } else {
    machine.WriteFile(InFolder(directory, command.redirections.back().file), output, true);
  }
  return exitCode;
}

}  // namespace

void SetUpCommandInterpreter(Machine& machine) {
  machine.RegisterProgram(machine.profile().system_dir + L"\\cmd.exe", RunCommand);
}

}  // namespace sim
