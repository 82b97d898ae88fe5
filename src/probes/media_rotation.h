// Media rotation probe: asks a physical drive for ATA IDENTIFY DEVICE through the SMART
// pass-through (probes/smart_identify.h) and classifies its nominal media rotation rate.
#pragma once

#include <cstdint>

// 1: non-rotating media (solid-state); 0: anything else that was read, or the drive could not
// be opened or refused the SMART version query; -1: the IDENTIFY command failed.
int ProbeMediaRotation(int driveNumber);

// What the probe's steps gave, before it classifies and prints: the step that failed (with
// the last error right after it), or IDENTIFY word 217.
struct MediaRotationReading {
  enum class Step { kNone, kOpen, kVersion, kIdentify };
  Step failedStep = Step::kNone;
  std::uint32_t error = 0;
  std::uint16_t rate = 0;
};
// Opens the drive read-write, asks the SMART version and sends IDENTIFY; prints nothing.
MediaRotationReading ReadMediaRotation(int driveNumber);
