// The Windows entry point: no console, no window; the command line arrives without the
// program's own name.
#include <windows.h>

#include "app/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  return CacheSetupMain(commandLine);
}
