// The cache configuration a capture reads from the storage tool's report: carried when the
// report pins it down, otherwise refused with what stands in the way.
#include <gtest/gtest.h>

#include <string>

#include "capture/disk_pairing.h"
#include "textout/utf8.h"
#include "tools/rst_report_cache.h"

namespace {

std::string Line(const std::string& key, const std::string& value) {
  std::string line = key;
  line.append(line.size() < 19 ? 19 - line.size() : 1, ' ');
  return line + value + "\r\n";
}

std::string Volume(const std::string& name, const std::string& type, const std::string& size,
                   const std::string& accel = "", const std::string& mode = "") {
  std::string out = Line("ID:", "0") + Line("Name:", name) + Line("Type:", type) +
                    Line("Size:", size) + Line("State:", "Normal");
  if (type == "Cache") out += Line("Accelerated Disk:", accel) + Line("Accel Mode:", mode);
  return out + "\r\n";
}

std::string Device(const std::string& id, const std::string& usage) {
  return Line("ID:", id) + Line("Type:", "Disk") + Line("Size:", "32 GB") + Line("Usage:", usage) +
         Line("Serial Number:", "SN" + id) + Line("Model:", "M") + "\r\n";
}

// A report in the tool's layout: controller and volume sections, then the devices.
std::string Report(const std::string& volumes, const std::string& ssdUsage = "Array member") {
  return "--CONTROLLER INFORMATION--\r\n\r\n" + Line("ID:", "0") + Line("Type:", "SATA") +
         "\r\n--VOLUME INFORMATION--\r\n\r\n" + volumes + "--END DEVICE INFORMATION--\r\n\r\n" +
         Device("0-0-0-0", "Available") + Device("0-1-0-0", ssdUsage);
}

ReportCacheReading Read(const std::string& report) {
  RstDeviceList devices;
  ParseRstReportBytes(report, devices);
  return ReadReportCache(report, devices);
}

TEST(ReportCache, CarriesACacheTheReportPinsDown) {
  const std::string cache = Volume("Volume_0000", "Cache", "23.50 GB", "0-0-0-0", "maximized");
  const ReportCacheReading sized = Read(Report(cache + Volume("Volume_0001", "Data", "8.50 GB")));
  ASSERT_TRUE(sized.shown && sized.cache) << textout::ToUtf8(sized.why);
  EXPECT_EQ(textout::ToUtf8(sized.cache->device), "0-1-0-0");
  EXPECT_EQ(textout::ToUtf8(sized.cache->cacheSizeText), "23.50");
  EXPECT_EQ(sized.cache->cacheGiB, 23.5);
  EXPECT_EQ(sized.cache->dataGiB.value_or(-1), 8.5);
  EXPECT_EQ(textout::ToUtf8(sized.cache->acceleratedDisk + L" " + sized.cache->mode),
            "0-0-0-0 maximized");

  // The whole SSD as the cache, made but not yet accelerating.
  const ReportCacheReading whole = Read(Report(Volume("Volume_0000", "Cache", "32.00 GB")));
  ASSERT_TRUE(whole.cache) << textout::ToUtf8(whole.why);
  EXPECT_FALSE(whole.cache->dataGiB.has_value());
  EXPECT_TRUE(whole.cache->acceleratedDisk.empty() && whole.cache->mode.empty());

  const ReportCacheReading none = Read(Report(""));
  EXPECT_FALSE(none.shown || none.cache) << textout::ToUtf8(none.why);
}

TEST(ReportCache, RefusesWhatItCannotRebuildSayingWhy) {
  const std::string data = Volume("Volume_0001", "Data", "8.50 GB");
  const struct {
    const char* name;
    std::string report;
    const char* why;
  } cases[] = {
      {"two caches",
       Report(Volume("V0", "Cache", "8.00 GB") + Volume("V1", "Cache", "8.00 GB") + data),
       "it lists 2 cache and 1 data volumes"},
      {"size not in GB", Report(Volume("V0", "Cache", "23.50 GiB") + data),
       "the cache size '23.50 GiB' is not in GB"},
      {"size not a number", Report(Volume("V0", "Cache", "1e3 GB") + data),
       "the cache size '1e3 GB' is not in GB"},
      {"data size unreadable", Report(Volume("V0", "Cache", "8.00 GB") + Volume("V1", "Data", "")),
       "the data volume's size '' is not in GB"},
      {"no array member", Report(Volume("V0", "Cache", "8.00 GB"), "Available"),
       "0 devices are marked \"Array member\", not one"},
      {"accelerated disk unknown", Report(Volume("V0", "Cache", "8.00 GB", "9-9-9-9", "enhanced")),
       "the accelerated disk '9-9-9-9' is not another device it lists"},
      {"accelerating its own device",
       Report(Volume("V0", "Cache", "8.00 GB", "0-1-0-0", "enhanced")),
       "the accelerated disk '0-1-0-0' is not another device it lists"},
      {"unknown mode", Report(Volume("V0", "Cache", "8.00 GB", "0-0-0-0", "fast")),
       "the accelerated disk '0-0-0-0' and mode 'fast' do not make an acceleration"},
      {"a volume of another type",
       Report(Volume("V0", "Cache", "8.00 GB") + Volume("V1", "RAID 0", "8.00 GB")),
       "it lists a volume of type 'RAID 0'"},
      {"no acceleration lines",
       Report(Line("ID:", "0") + Line("Type:", "Cache") + Line("Size:", "8.00 GB") + "\r\n"),
       "its cache volume has no \"Accelerated Disk:\" and \"Accel Mode:\" lines"},
      {"mode without a disk", Report(Volume("V0", "Cache", "8.00 GB", "", "maximized")),
       "the accelerated disk '' and mode 'maximized' do not make an acceleration"},
  };
  for (const auto& c : cases) {
    const ReportCacheReading r = Read(c.report);
    EXPECT_TRUE(r.shown) << c.name;
    EXPECT_FALSE(r.cache.has_value()) << c.name;
    EXPECT_EQ(textout::ToUtf8(r.why), c.why) << c.name;
  }
}

// A cache whose accelerated disk gets no disk of the capture (more devices than disks) is not
// carried: the profile could not name it.
TEST(ReportCache, IsNotCarriedWhenItsAcceleratedDiskHasNoDisk) {
  MachineRecord record;
  record.storageReport = Report(Volume("Volume_0000", "Cache", "32.00 GB", "0-0-0-0", "maximized"));
  const PairedDisks paired = PairDisks(record);
  EXPECT_FALSE(paired.cache.cache.has_value());
  EXPECT_EQ(textout::ToUtf8(paired.cache.why), "its accelerated disk 0-0-0-0 has no disk here");
  EXPECT_TRUE(paired.disks.empty()) << paired.disks.size() << " disks";
}

}  // namespace
