#include "environment/run_environment.h"

#include "textout/format.h"

RunEnvironment g_RunEnvironment;

void ResetRunEnvironment() { g_RunEnvironment = RunEnvironment{}; }

std::wstring UpperCaseAscii(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return out;
}

int SelectMaximizedMode(const std::wstring& upperCommandLine, int current) {
  int mode = current;
  if (upperCommandLine.find(L"ENHANCED") != std::wstring::npos) mode = 0;
  if (upperCommandLine.find(L"MAXIMIZED") != std::wstring::npos) mode = 1;
  return mode;
}

int Detect64BitWindows() {
  const os::ModuleHandle kernel32 = os::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == 0) return 0;
  const os::ProcAddress function = os::GetProcAddress(kernel32, "GetSystemWow64DirectoryW");
  if (function == 0) return 0;
  const os::Wow64DirectoryResult result = os::CallGetSystemWow64DirectoryW(function, 32767);
  if (result.length != 0) return 1;
  return result.lastError == os::kErrorCallNotImplemented ? 0 : 1;
}

void ResolveRunPaths() {
  RunEnvironment& env = g_RunEnvironment;
  // A failing folder query goes unnoticed: the path stays empty and the paths built from it
  // start with the backslash.
  os::SHGetSpecialFolderPathW(os::kCsidlSystem, &env.szSystemDir);
  os::SHGetSpecialFolderPathW(os::kCsidlWindows, &env.szWindowsDir);
  env.szCmdExePath = textout::Format(L"%ls\\cmd.exe", env.szSystemDir.c_str());
  env.szDiskpartExePath = textout::Format(L"%ls\\diskpart.exe", env.szSystemDir.c_str());
}

void SettleBitnessAndPaths() {
  RunEnvironment& env = g_RunEnvironment;
  // Redirection goes off before any path is resolved or used, and stays off for the run.
  if (Detect64BitWindows() == 1) {
    env.bIs64BitOS = 1;
    os::Wow64EnableWow64FsRedirection(false);
  }
  ResolveRunPaths();
}

ComStart StartCom() {
  ComStart start;
  start.hr = os::CoInitializeEx(os::kCoinitMultithreaded);
  if (os::Failed(start.hr)) {
    start.failed = ComStart::Failed::kInitialize;
    return start;
  }
  start.hr = os::CoInitializeSecurity(os::kRpcCAuthnLevelDefault, os::kRpcCImpLevelImpersonate,
                                      os::kEoacNone);
  if (os::Failed(start.hr)) {
    os::CoUninitialize();
    start.failed = ComStart::Failed::kSecurity;
    return start;
  }
  g_RunEnvironment.bIsComInitialized = 1;
  return start;
}

const wchar_t* StorageToolName(const RunEnvironment& env) {
  return env.bIs64BitOS != 0 ? L"RSTCLI64.exe" : L"RSTCLI.exe";
}
