// The firmware method's answer from arbitrary bytes. The first byte chooses the case: bit 0
// whether the device call succeeds, bit 1 64-bit Windows, bits 2-7 how short the record and
// the result spans are made for the direct call of TakeFirmwareMethodResult. The rest is what
// the device writes into the result buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "environment/run_environment.h"
#include "platform/bytes.h"
#include "probes/control_codes.h"
#include "probes/firmware.h"
#include "sim/core/machine.h"
#include "tests/support/fuzz_machine.h"

namespace {

std::vector<std::uint8_t> g_answer;
bool g_callSucceeds = false;
std::function<bool(std::uint32_t, void*, std::uint32_t, std::uint32_t*)> g_ioctl =
    [](std::uint32_t code, void* out, std::uint32_t outSize, std::uint32_t* returned) {
      if (code != control_codes::kFirmwareMethod) return false;
      const std::size_t n = g_answer.size() < outSize ? g_answer.size() : outSize;
      if (n != 0) std::memcpy(out, g_answer.data(), n);
      *returned = static_cast<std::uint32_t>(n);
      return g_callSucceeds;
    };

fuzzing::FuzzMachine& Machine() {
  static fuzzing::FuzzMachine machine;
  static const bool added = (machine.AddDevice(kFirmwareControlDeviceName, nullptr, &g_ioctl),
                             ResetRunEnvironment(), true);
  (void)added;
  return machine;
}

void Check(bool ok, const char* what) { fuzzing::Check(ok, "firmware_fuzz", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  sim::Machine& m = Machine().machine();
  const std::uint8_t mode = data[0];
  g_callSucceeds = (mode & 1) != 0;
  m.profile().windows_bits = (mode & 2) != 0 ? 64 : 32;
  g_answer.assign(data + 1, data + size);

  // The whole query: 0 or 1, and the device closed again.
  const std::size_t handles = m.open_handles();
  const int feature = QueryFirmwareFeature(kFeatureIdISRT);
  Check(feature == 0 || feature == 1, "a feature that is neither 0 nor 1");
  Check(!g_callSucceeds ? feature == 0 : true, "a feature from a failed call");
  Check(m.open_handles() == handles, "the device left open");
  Check(g_FirmwareControlDevice.state == FirmwareControlDevice::State::kNone, "device state");

  // The decoding alone, over spans that end exactly where their heap blocks end, so that a
  // byte read or written outside them is caught.
  const std::size_t cut = mode >> 2;  // 0-63
  const std::size_t resultSize = g_answer.size() > cut ? g_answer.size() - cut : 0;
  const std::size_t recordSize = firmware_request::kArgumentStorageSize > cut
                                     ? firmware_request::kArgumentStorageSize - cut
                                     : 0;
  std::unique_ptr<std::uint8_t[]> result(new std::uint8_t[resultSize + 1]);
  std::unique_ptr<std::uint8_t[]> record(new std::uint8_t[recordSize + 1]);
  if (resultSize != 0) std::memcpy(result.get(), g_answer.data(), resultSize);
  std::memset(record.get(), 0xA5, recordSize + 1);
  const std::uint32_t word =
      TakeFirmwareMethodResult(std::span<const std::uint8_t>(result.get(), resultSize),
                               std::span<std::uint8_t>(record.get(), recordSize));
  Check(record[recordSize] == 0xA5, "a byte written past the record");
  // Either nothing was copied (0) or the record holds the data word it returned.
  const std::uint32_t inRecord =
      bytes::U32(std::span<const std::uint8_t>(record.get(), recordSize), 4);
  Check(word == 0 || word == inRecord, "a data word the record does not hold");

  // The request forms fit the space they are given or are not built at all.
  std::uint8_t request[firmware_request::kRequestSize64] = {};
  const std::size_t room = cut < sizeof(request) ? sizeof(request) - cut : 0;
  const std::size_t built = BuildFirmwareMethodRequest(std::span<std::uint8_t>(request, room),
                                                       (mode & 2) != 0, kFeatureIdIFFS, 0x1000);
  Check(built <= room, "a request longer than its buffer");
  return 0;
}
