// Every Windows number the product and the simulator spell themselves, pinned to windows.h in
// each Windows build (i686 and x86-64): the product's control codes and structure offsets
// (probes/), the seam's constants (platform/os.h) and the simulator's own codes and offsets
// (sim/devices/windows_codes.h). A wrong number on either side fails the build. Then the
// product's decoders read structures filled through windows.h's own types.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they build on.
#include <shlobj.h>
#include <wbemcli.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/os.h"
#include "probes/control_codes.h"
#include "probes/disk_extents.h"
#include "probes/drive_layout.h"
#include "probes/drive_length.h"
#include "probes/smart_identify.h"
#include "sim/devices/windows_codes.h"

// ---- Control codes ---------------------------------------------------------------------------

static_assert(control_codes::kIoctlDiskGetDriveLayoutEx == IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
static_assert(control_codes::kIoctlDiskGetLengthInfo == IOCTL_DISK_GET_LENGTH_INFO);
static_assert(control_codes::kIoctlVolumeGetVolumeDiskExtents ==
              IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(control_codes::kSmartGetVersion == SMART_GET_VERSION);
static_assert(control_codes::kSmartRcvDriveData == SMART_RCV_DRIVE_DATA);
static_assert(control_codes::kFirmwareMethod ==
              CTL_CODE(0x22, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS));

static_assert(sim::kIoctlDiskGetDriveLayoutEx == IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
static_assert(sim::kIoctlDiskGetLengthInfo == IOCTL_DISK_GET_LENGTH_INFO);
static_assert(sim::kIoctlVolumeGetVolumeDiskExtents == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(sim::kSmartGetVersion == SMART_GET_VERSION);
static_assert(sim::kSmartRcvDriveData == SMART_RCV_DRIVE_DATA);
static_assert(sim::kIoctlFirmwareMethod == CTL_CODE(0x22, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS));

// ---- DRIVE_LAYOUT_INFORMATION_EX ---------------------------------------------------------------

namespace dl = drive_layout;
using Layout = DRIVE_LAYOUT_INFORMATION_EX;
using Entry = PARTITION_INFORMATION_EX;
static_assert(dl::kPartitionStyle == offsetof(Layout, PartitionStyle));
static_assert(dl::kPartitionCount == offsetof(Layout, PartitionCount));
static_assert(dl::kPartitionEntry == offsetof(Layout, PartitionEntry));
static_assert(dl::kEntryBytes == sizeof(Entry));
static_assert(dl::kEntryStartingOffset == offsetof(Entry, StartingOffset));
static_assert(dl::kEntryPartitionLength == offsetof(Entry, PartitionLength));
static_assert(dl::kEntryPartitionNumber == offsetof(Entry, PartitionNumber));
static_assert(dl::kEntryStyleInfo == offsetof(Entry, Mbr));
static_assert(dl::kEntryMbrPartitionType == offsetof(Entry, Mbr.PartitionType));
static_assert(dl::kEntryMbrRecognizedPartition == offsetof(Entry, Mbr.RecognizedPartition));
static_assert(dl::kEntryGptPartitionType == offsetof(Entry, Gpt.PartitionType));
static_assert(dl::kGuidBytes == sizeof(GUID));
static_assert(dl::kStyleMbr == PARTITION_STYLE_MBR);
static_assert(dl::kStyleGpt == PARTITION_STYLE_GPT);
static_assert(dl::kStyleRaw == PARTITION_STYLE_RAW);
static_assert(dl::kBufferBytes == offsetof(Layout, PartitionEntry) + 101 * sizeof(Entry));

static_assert(sim::kDriveLayoutHeaderSize == offsetof(Layout, PartitionEntry));
static_assert(sim::kPartitionInformationExSize == sizeof(Entry));
namespace lf = sim::layout_fields;
static_assert(lf::kPartitionStyle == offsetof(Layout, PartitionStyle));
static_assert(lf::kPartitionCount == offsetof(Layout, PartitionCount));
static_assert(lf::kMbrSignature == offsetof(Layout, Mbr.Signature));
static_assert(lf::kGptDiskId == offsetof(Layout, Gpt.DiskId));
static_assert(lf::kGptStartingUsableOffset == offsetof(Layout, Gpt.StartingUsableOffset));
static_assert(lf::kGptUsableLength == offsetof(Layout, Gpt.UsableLength));
static_assert(lf::kGptMaxPartitionCount == offsetof(Layout, Gpt.MaxPartitionCount));
namespace pf = sim::partition_fields;
static_assert(pf::kPartitionStyle == offsetof(Entry, PartitionStyle));
static_assert(pf::kStartingOffset == offsetof(Entry, StartingOffset));
static_assert(pf::kPartitionLength == offsetof(Entry, PartitionLength));
static_assert(pf::kPartitionNumber == offsetof(Entry, PartitionNumber));
static_assert(pf::kMbrPartitionType == offsetof(Entry, Mbr.PartitionType));
static_assert(pf::kMbrBootIndicator == offsetof(Entry, Mbr.BootIndicator));
static_assert(pf::kMbrRecognizedPartition == offsetof(Entry, Mbr.RecognizedPartition));
static_assert(pf::kMbrHiddenSectors == offsetof(Entry, Mbr.HiddenSectors));
static_assert(pf::kGptPartitionType == offsetof(Entry, Gpt.PartitionType));
static_assert(pf::kGptPartitionId == offsetof(Entry, Gpt.PartitionId));
static_assert(pf::kGptAttributes == offsetof(Entry, Gpt.Attributes));
static_assert(pf::kGptName == offsetof(Entry, Gpt.Name));
static_assert(pf::kGptNameChars == sizeof(PARTITION_INFORMATION_GPT::Name) / sizeof(WCHAR));

// ---- VOLUME_DISK_EXTENTS and GET_LENGTH_INFORMATION ---------------------------------------------

namespace de = disk_extents;
static_assert(de::kNumberOfDiskExtents == offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents));
static_assert(de::kExtents == offsetof(VOLUME_DISK_EXTENTS, Extents));
static_assert(de::kExtentBytes == sizeof(DISK_EXTENT));
static_assert(de::kExtentDiskNumber == offsetof(DISK_EXTENT, DiskNumber));
static_assert(de::kExtentStartingOffset == offsetof(DISK_EXTENT, StartingOffset));
static_assert(de::kExtentLength == offsetof(DISK_EXTENT, ExtentLength));
static_assert(de::kBufferBytes ==
              offsetof(VOLUME_DISK_EXTENTS, Extents) + 101 * sizeof(DISK_EXTENT));

static_assert(sim::kVolumeDiskExtentsHeaderSize == offsetof(VOLUME_DISK_EXTENTS, Extents));
static_assert(sim::kDiskExtentSize == sizeof(DISK_EXTENT));
namespace ef = sim::extent_fields;
static_assert(ef::kNumberOfDiskExtents == offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents));
static_assert(ef::kDiskNumber == offsetof(DISK_EXTENT, DiskNumber));
static_assert(ef::kStartingOffset == offsetof(DISK_EXTENT, StartingOffset));
static_assert(ef::kExtentLength == offsetof(DISK_EXTENT, ExtentLength));

static_assert(drive_length::kLength == offsetof(GET_LENGTH_INFORMATION, Length));
static_assert(drive_length::kBytes == sizeof(GET_LENGTH_INFORMATION));

// ---- SMART pass-through ------------------------------------------------------------------------

namespace si = smart_identify;
static_assert(si::kGetVersionSize == sizeof(GETVERSIONINPARAMS));
static_assert(si::kSendCmdInSize == offsetof(SENDCMDINPARAMS, bBuffer));
static_assert(si::kInBufferSize == offsetof(SENDCMDINPARAMS, cBufferSize));
static_assert(si::kInFeatures == offsetof(SENDCMDINPARAMS, irDriveRegs.bFeaturesReg));
static_assert(si::kInSectorCount == offsetof(SENDCMDINPARAMS, irDriveRegs.bSectorCountReg));
static_assert(si::kInSectorNumber == offsetof(SENDCMDINPARAMS, irDriveRegs.bSectorNumberReg));
static_assert(si::kInCylLow == offsetof(SENDCMDINPARAMS, irDriveRegs.bCylLowReg));
static_assert(si::kInCylHigh == offsetof(SENDCMDINPARAMS, irDriveRegs.bCylHighReg));
static_assert(si::kInDriveHead == offsetof(SENDCMDINPARAMS, irDriveRegs.bDriveHeadReg));
static_assert(si::kInCommand == offsetof(SENDCMDINPARAMS, irDriveRegs.bCommandReg));
static_assert(si::kInRegsReserved == offsetof(SENDCMDINPARAMS, irDriveRegs.bReserved));
static_assert(si::kInDriveNumber == offsetof(SENDCMDINPARAMS, bDriveNumber));
static_assert(si::kInReserved == offsetof(SENDCMDINPARAMS, bReserved));
static_assert(si::kInDwReserved == offsetof(SENDCMDINPARAMS, dwReserved));
static_assert(si::kIdentifyCommand == ID_CMD);
static_assert(si::kOutHeaderSize == offsetof(SENDCMDOUTPARAMS, bBuffer));
static_assert(si::kIdentifyDataSize == IDENTIFY_BUFFER_SIZE);

static_assert(sim::kGetVersionInParamsSize == sizeof(GETVERSIONINPARAMS));
static_assert(sim::kSendCmdInParamsSize == offsetof(SENDCMDINPARAMS, bBuffer));
static_assert(sim::kSendCmdOutHeaderSize == offsetof(SENDCMDOUTPARAMS, bBuffer));
static_assert(sim::kIdentifyDataSize == IDENTIFY_BUFFER_SIZE);
namespace vf = sim::version_fields;
static_assert(vf::kVersion == offsetof(GETVERSIONINPARAMS, bVersion));
static_assert(vf::kRevision == offsetof(GETVERSIONINPARAMS, bRevision));
static_assert(vf::kIdeDeviceMap == offsetof(GETVERSIONINPARAMS, bIDEDeviceMap));
static_assert(vf::kCapabilities == offsetof(GETVERSIONINPARAMS, fCapabilities));
static_assert(vf::kCapAtaIdCmd == CAP_ATA_ID_CMD);
static_assert(vf::kCapSmartCmd == CAP_SMART_CMD);
namespace sf = sim::sendcmd_fields;
static_assert(sf::kInFeatures == offsetof(SENDCMDINPARAMS, irDriveRegs.bFeaturesReg));
static_assert(sf::kInSectorCount == offsetof(SENDCMDINPARAMS, irDriveRegs.bSectorCountReg));
static_assert(sf::kInSectorNumber == offsetof(SENDCMDINPARAMS, irDriveRegs.bSectorNumberReg));
static_assert(sf::kInDriveHead == offsetof(SENDCMDINPARAMS, irDriveRegs.bDriveHeadReg));
static_assert(sf::kInCommand == offsetof(SENDCMDINPARAMS, irDriveRegs.bCommandReg));
static_assert(sf::kIdCmd == ID_CMD);
static_assert(sf::kOutBufferSize == offsetof(SENDCMDOUTPARAMS, cBufferSize));

// ---- The seam's constants, and the simulator's extra error codes --------------------------------

static_assert(os::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(os::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(os::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(os::kErrorInvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(os::kErrorCrc == ERROR_CRC);
static_assert(os::kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(os::kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(os::kErrorCallNotImplemented == ERROR_CALL_NOT_IMPLEMENTED);
static_assert(os::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(os::kCsidlWindows == CSIDL_WINDOWS);
static_assert(os::kCsidlSystem == CSIDL_SYSTEM);
static_assert(os::kSOk == S_OK);
static_assert(os::kSFalse == S_FALSE);
static_assert(os::kEFail == E_FAIL);
static_assert(os::kWbemSFalse == WBEM_S_FALSE);
static_assert(os::kCoinitMultithreaded == COINIT_MULTITHREADED);
static_assert(os::kRpcCAuthnLevelDefault == RPC_C_AUTHN_LEVEL_DEFAULT);
static_assert(os::kRpcCAuthnLevelCall == RPC_C_AUTHN_LEVEL_CALL);
static_assert(os::kRpcCImpLevelImpersonate == RPC_C_IMP_LEVEL_IMPERSONATE);
static_assert(os::kRpcCAuthnWinNT == RPC_C_AUTHN_WINNT);
static_assert(os::kRpcCAuthzNone == RPC_C_AUTHZ_NONE);
static_assert(os::kEoacNone == EOAC_NONE);
static_assert(os::kGenericRead == GENERIC_READ);
static_assert(os::kGenericWrite == GENERIC_WRITE);
static_assert(os::kFileAppendData == FILE_APPEND_DATA);
static_assert(os::kFileShareRead == FILE_SHARE_READ);
static_assert(os::kFileShareWrite == FILE_SHARE_WRITE);
static_assert(os::kFileShareDelete == FILE_SHARE_DELETE);
static_assert(os::kCreateAlways == CREATE_ALWAYS);
static_assert(os::kOpenExisting == OPEN_EXISTING);
static_assert(os::kOpenAlways == OPEN_ALWAYS);
static_assert(os::kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(os::kFileBegin == FILE_BEGIN);
static_assert(os::kFileEnd == FILE_END);
static_assert(os::kCpAcp == CP_ACP);
static_assert(os::kCpOemcp == CP_OEMCP);
static_assert(os::kSwHide == SW_HIDE);
static_assert(os::kInfinite == INFINITE);

static_assert(sim::kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(sim::kErrorMoreData == ERROR_MORE_DATA);
static_assert(sim::kErrorNoAccess == ERROR_NOACCESS);
static_assert(sim::kErrorUnrecognizedVolume == ERROR_UNRECOGNIZED_VOLUME);
static_assert(sim::kErrorIoDevice == ERROR_IO_DEVICE);

namespace {

// The bytes of a structure whose last member is an array of `items` (windows.h declares one).
template <typename Head, typename Item>
std::vector<std::uint8_t> Concatenated(const Head& head, std::size_t itemsAt,
                                       const std::vector<Item>& items) {
  std::vector<std::uint8_t> out(itemsAt + items.size() * sizeof(Item));
  std::memcpy(out.data(), &head, itemsAt);
  if (!items.empty()) std::memcpy(out.data() + itemsAt, items.data(), items.size() * sizeof(Item));
  return out;
}

TEST(Win32Structures, DriveLayoutDecoderReadsWhatWindowsTypesHold) {
  for (const PARTITION_STYLE style : {PARTITION_STYLE_MBR, PARTITION_STYLE_GPT}) {
    SCOPED_TRACE(testing::Message() << "style " << style);
    std::vector<Entry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      Entry& e = entries[i];
      e.PartitionStyle = style;
      e.StartingOffset.QuadPart = 0x100000LL * (i + 1) + 0x123456789LL;
      e.PartitionLength.QuadPart = 0x200000LL * (i + 7);
      e.PartitionNumber = static_cast<DWORD>(i + 1);
      if (style == PARTITION_STYLE_MBR) {
        e.Mbr.PartitionType = static_cast<BYTE>(0x07 + i);
        e.Mbr.RecognizedPartition = i != 1;
        e.Mbr.BootIndicator = TRUE;  // read by nothing, so it must not leak into the fields read
      } else {
        for (std::size_t b = 0; b < sizeof(GUID); ++b) {
          reinterpret_cast<BYTE*>(&e.Gpt.PartitionType)[b] = static_cast<BYTE>(0x10 * i + b);
        }
      }
    }
    Layout head = {};
    head.PartitionStyle = style;
    head.PartitionCount = static_cast<DWORD>(entries.size());
    const DriveLayout decoded =
        DecodeDriveLayout(Concatenated(head, offsetof(Layout, PartitionEntry), entries));
    EXPECT_EQ(decoded.style, static_cast<std::uint32_t>(style));
    ASSERT_EQ(decoded.entries.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(i);
      const DriveLayoutEntry& d = decoded.entries[i];
      EXPECT_EQ(d.start, static_cast<std::uint64_t>(entries[i].StartingOffset.QuadPart));
      EXPECT_EQ(d.length, static_cast<std::uint64_t>(entries[i].PartitionLength.QuadPart));
      EXPECT_EQ(d.number, entries[i].PartitionNumber);
      if (style == PARTITION_STYLE_MBR) {
        EXPECT_EQ(d.mbrType, entries[i].Mbr.PartitionType);
        EXPECT_EQ(d.recognized, entries[i].Mbr.RecognizedPartition != 0);
      } else {
        EXPECT_EQ(std::memcmp(d.gptType.data(), &entries[i].Gpt.PartitionType, sizeof(GUID)), 0);
      }
    }
  }
}

TEST(Win32Structures, DiskExtentsDecoderReadsWhatWindowsTypesHold) {
  std::vector<DISK_EXTENT> extents(2);
  extents[0].DiskNumber = 3;
  extents[0].StartingOffset.QuadPart = 0x7654321000LL;
  extents[0].ExtentLength.QuadPart = 0x100000LL;
  extents[1].DiskNumber = 0;
  extents[1].StartingOffset.QuadPart = 1LL << 20;
  extents[1].ExtentLength.QuadPart = 0x123456789ALL;
  VOLUME_DISK_EXTENTS head = {};
  head.NumberOfDiskExtents = 2;
  const std::vector<DiskExtent> decoded =
      DecodeDiskExtents(Concatenated(head, offsetof(VOLUME_DISK_EXTENTS, Extents), extents));
  ASSERT_EQ(decoded.size(), extents.size());
  for (std::size_t i = 0; i < extents.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(decoded[i].disk, extents[i].DiskNumber);
    EXPECT_EQ(decoded[i].start, static_cast<std::uint64_t>(extents[i].StartingOffset.QuadPart));
    EXPECT_EQ(decoded[i].length, static_cast<std::uint64_t>(extents[i].ExtentLength.QuadPart));
  }
}

}  // namespace
