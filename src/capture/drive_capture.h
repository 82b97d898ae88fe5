// The physical drives and drive letters of a notebook as the product's locator and label
// readers meet them: lengths, layouts, the partition-table sectors and every byte the label
// readers read, read-only.
#pragma once

#include <set>
#include <vector>

#include "capture/machine_record.h"

// Opens each drive number of `numbers` for reading and records those that open, in order. A
// drive that does not tell its length has `bytes` 0.
// Failing steps are added to *faults by their fault names.
std::vector<CapturedDrive> CaptureDrives(const std::set<int>& numbers,
                                         std::vector<std::string>* faults);

// The drive roots, each with its label and extents; when the list fails, the Windows folder's
// root alone, which the product opens without it. Failing steps go to *faults.
std::vector<CapturedLetter> CaptureLetters(const std::wstring& windowsDir,
                                           std::vector<std::string>* faults);

// Reads the volume labels at the letters' extents once more into the drives' sectors, so that
// a replay finds the bytes of every mounted volume too.
void CaptureLetterVolumes(const std::vector<CapturedLetter>& letters,
                          std::vector<CapturedDrive>* drives);
