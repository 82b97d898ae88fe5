// Stands in for the storage tool under Wine: "-I" prints a small device report on standard
// output in text mode (so the C runtime writes CR LF), "-V" a version line.
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"-V") == 0) {
    std::fputs("Version:           11.7.0.1013\n", stdout);
    return 0;
  }
  if (argc != 2 || std::wcscmp(argv[1], L"-I") != 0) {
    std::fputs("Usage: RSTCLI -V | -I\n", stderr);
    return 1;
  }
  std::fputs(
      "--CONTROLLER INFORMATION--\n"
      "\n"
      "ID:                0\n"
      "Type:              SATA\n"
      "\n"
      "--END DEVICE INFORMATION--\n"
      "\n"
      "ID:                0-0-0-0\n"
      "Type:              Disk\n"
      "Disk Type:         SATA\n"
      "State:             Normal\n"
      "Size:              465.76 GB\n"
      "Free Size:         0 GB\n"
      "System Disk:       True\n"
      "Usage:             Available\n"
      "Serial Number:     TE85113Q0V8K3R\n"
      "Model:             HGST HTS545050A7E380\n"
      "\n"
      "ID:                0-1-0-0\n"
      "Type:              Disk\n"
      "Disk Type:         SATA\n"
      "State:             Normal\n"
      "Size:              29.82 GB\n"
      "Free Size:         29.82 GB\n"
      "System Disk:       False\n"
      "Usage:             Available\n"
      "Serial Number:     131572400123\n"
      "Model:             SSD caf\xE9\n",
      stdout);
  return 0;
}
