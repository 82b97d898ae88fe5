// The capture program's entry point: a console program, so that it can say where it wrote the
// profile; the command line arrives without the program's own name.
#include <windows.h>

#include "capture/capture_main.h"

int wmain(int, wchar_t**) {
  // The raw command line keeps the quoting CaptureMain reads; skip the program's own name.
  const wchar_t* line = ::GetCommandLineW();
  bool quoted = false;
  while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
    if (*line == L'"') quoted = !quoted;
    ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return CaptureMain(line);
}
