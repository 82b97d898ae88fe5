// The storage tool's device report: runs the tool with "-I" into TRSTCliLog.txt and turns the
// report's device blocks into records. The reading half works on any report file or text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One device block of the report. Texts are kept exactly as cut from their lines.
struct RstDeviceRecord {
  std::wstring ID;
  std::wstring Type;
  std::wstring DiskType;
  std::wstring State;
  std::int32_t Size = 0;  // the whole number the tool prints, in the tool's unit
  std::int32_t FreeSize = 0;
  std::int32_t SystemDisk = 0;  // 1 when the "System Disk:" line's last word contains "True"
  std::wstring Usage;
  std::wstring SerialNumber;
  std::wstring Model;
};

using RstDeviceList = std::vector<RstDeviceRecord>;

// Runs cmd.exe to write the tool's "-I" report into <Windows>\Temp\TRSTCliLog.txt, then reads
// it. Appends one record per complete device block, and the bytes read to *bytes when given (the
// volume section is read from them). False only when the report file cannot be opened; the list
// is then untouched. The tool's exit code is not looked at.
bool ReadRstDeviceReport(RstDeviceList& devices, std::string* bytes = nullptr);

// The cmd.exe parameters that run the storage tool (<Windows>\Temp\<tool>) with "-I", its output
// redirected into `reportPath`.
std::wstring StorageToolReportParameters(const std::wstring& reportPath);

// Reads a report file (text mode: a CR before an LF is dropped; ANSI code page). False when
// the file cannot be opened. A read error ends the reading; a partial last line is then dropped.
// The bytes read go to *bytes when given.
bool ReadRstReportFile(const std::wstring& path, RstDeviceList& devices,
                       std::string* bytes = nullptr);

// The same over the file's bytes already in memory.
void ParseRstReportBytes(const std::string& bytes, RstDeviceList& devices);

// The same over wide text: lines split at LF, a CR right before an LF dropped.
void ParseRstReportText(const std::wstring& text, RstDeviceList& devices);
