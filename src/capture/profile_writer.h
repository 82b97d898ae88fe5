// Writes a capture as a machine profile folder that cachesetup-sim loads: machine.json, one
// diskN.pieces file per captured drive, and the storage tool's report when it was taken.
#pragma once

#include <string>
#include <vector>

#include "capture/disk_pairing.h"
#include "capture/machine_record.h"
#include "platform/pieces_file.h"

// The pieces of a drive's pieces file (platform/pieces_file.h): the sectors read, adjacent ones
// joined, sectors of zeros and bytes past the drive's length left out.
std::vector<pieces_file::Piece> DrivePieces(const CapturedDrive& drive);

// The file name of drive n's pieces inside the capture folder.
std::wstring PiecesFileName(int driveNumber);

// Writes machine.json and the pieces files into `outDir`. False when a file cannot be written.
bool WriteProfileFolder(const std::wstring& outDir, const MachineRecord& record,
                        const PairedDisks& paired);
