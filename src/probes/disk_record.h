// One physical disk of the WMI inventory, with its media kind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiskRecord {
  std::int32_t Reserved = 0;
  std::wstring Description;
  std::wstring DeviceID;
  std::uint32_t Index = 0;
  std::wstring InterfaceType;
  std::wstring Manufacturer;
  std::int32_t MediaLoaded = 0;  // WMI true is stored as -1
  std::wstring MediaType;
  std::uint64_t MinBlockSize = 0;
  std::wstring Model;
  std::wstring Name;
  std::uint8_t NeedsCleaning = 0;
  std::uint32_t NumberOfMediaSupported = 0;
  std::uint32_t Partitions = 0;
  std::wstring PNPDeviceID;
  std::uint32_t SCSIBus = 0;
  std::uint16_t SCSILogicalUnit = 0;
  std::uint16_t SCSIPort = 0;
  std::uint16_t SCSITargetId = 0;
  std::uint32_t SectorsPerTrack = 0;
  std::wstring SerialNumber;
  std::uint32_t Signature = 0;
  std::wstring Size;  // bytes, as the decimal text WMI delivers
  std::wstring Status;
  std::wstring SystemCreationClassName;
  std::wstring SystemName;
  std::int32_t MediaKind = 0;  // the media rotation probe's result
};

using DiskList = std::vector<DiskRecord>;
