// Captures a notebook: does what the product does before its first decision, read-only, and
// records every answer (capture/machine_record.h).
#pragma once

#include <string>

#include "capture/machine_record.h"

// `outDir` must exist: the storage tool's "-I" report is written there (as storage_report.txt)
// when the tool is present and `runStorageTool` is set. Nothing else is written anywhere.
MachineRecord CaptureMachine(const std::wstring& outDir, bool runStorageTool);

// The file name of the storage tool's report inside the capture folder.
inline constexpr const wchar_t* kStorageReportName = L"storage_report.txt";
