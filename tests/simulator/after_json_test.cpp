// What a whole run leaves for a person and for tools: after.json and the readable account.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "sim/harness/account.h"
#include "sim/harness/disk_views.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"
#include "tests/support/disk_view_printers.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"
#include "tools/process_runner.h"

using testing::AllOf;
using testing::HasSubstr;
using testing::Not;

namespace {

using testing_support::SimMachine;
using Json = nlohmann::json;

constexpr const char* kRapidStart = "D3BFE2DE-3DAF-11DF-BA40-E3A556D89593";

TEST(SimAfterJson, DefaultNotebookEndsWithTheCacheAndTheRapidStartPartition) {
  SimMachine m(sim::DefaultProfile());
  ASSERT_EQ(sim::RunProduct(*m, L""), 0);
  const Json after = Json::parse(sim::AfterJson(*m));

  EXPECT_EQ(after["elapsed_ms"], 11000) << "the four pauses";
  ASSERT_EQ(after["disks"].size(), 3u);
  const Json& hdd = after["disks"][0];
  EXPECT_EQ(hdd["role"], "device");
  EXPECT_EQ(hdd["drive"], 0);
  EXPECT_EQ(hdd["style"], "gpt");
  ASSERT_EQ(hdd["partitions"].size(), 4u);
  EXPECT_EQ(hdd["partitions"][2]["label"], "Windows");
  EXPECT_EQ(hdd["partitions"][3]["label"], "Recovery");
  EXPECT_EQ(hdd["partitions"][3]["size"], 20000ull << 20);
  EXPECT_EQ(hdd["partitions"][1]["label"], nullptr) << "the reserved partition holds no volume";

  // The SSD is the cache, hidden from Windows; what the 23.5 GiB cache leaves of its 32 GiB is
  // the data volume, which Windows calls disk 1 as it called the SSD, and which holds the Rapid
  // Start partition.
  const Json& ssd = after["disks"][1];
  EXPECT_EQ(ssd["role"], "cache device");
  EXPECT_EQ(ssd["drive"], 1);
  EXPECT_EQ(ssd["style"], "raw");
  EXPECT_TRUE(ssd["partitions"].empty()) << ssd["partitions"].dump();
  const Json& volume = after["disks"][2];
  EXPECT_EQ(volume["role"], "data volume");
  EXPECT_EQ(volume["drive"], 1);
  EXPECT_EQ(volume["size"], (32768ull - 24064ull) << 20);
  EXPECT_EQ(volume["style"], "gpt");
  ASSERT_EQ(volume["partitions"].size(), 1u);
  const Json& rst = volume["partitions"][0];
  EXPECT_EQ(rst["type"], kRapidStart);
  EXPECT_EQ(rst["type_name"], "Intel Rapid Start");
  EXPECT_EQ(rst["fs"], "FAT32");
  EXPECT_EQ(rst["label"], "IntelRST");
  EXPECT_EQ(rst["attributes"], "0x8000000000000001");
  EXPECT_EQ(rst["offset"], 1u << 20);
  EXPECT_GT(rst["size"].get<std::uint64_t>(), volume["size"].get<std::uint64_t>() - (2u << 20));

  const Json& tool = after["storage_tool"];
  EXPECT_EQ(tool["present"], true);
  EXPECT_EQ(tool["metadata_deleted"], true);
  EXPECT_EQ(tool["cache_device"], "0-1-0-0");
  EXPECT_EQ(tool["cache_size"], "23.5");
  EXPECT_EQ(tool["accelerated_disk"], "0-0-0-0");
  EXPECT_EQ(tool["mode"], "maximized");

  ASSERT_EQ(after["diskpart"].size(), 2u);
  EXPECT_EQ(after["diskpart"][0]["script"], "C:\\Windows\\Temp\\TScriptClean2ndHDD.txt");
  EXPECT_EQ(after["diskpart"][0]["applied"], Json({"sel disk 1", "clean"}));
  EXPECT_EQ(after["diskpart"][1]["applied"].size(), 7u);
  EXPECT_EQ(after["diskpart"][1]["failed_line"], nullptr);
  EXPECT_EQ(after["diskpart"][1]["exit_code"], 0);

  // The hard disk is exactly as it was before the run.
  const std::vector<sim::DiskView>* before = sim::DisksBefore(*m);
  ASSERT_NE(before, nullptr);
  EXPECT_EQ((*before)[0], sim::ViewDisks(*m)[0]);
  EXPECT_NE((*before)[1], sim::ViewDisks(*m)[1]);
  EXPECT_EQ(before->size(), 2u) << "the data volume came with the cache";
}

TEST(SimAfterJson, SameMachineSameBytes) {
  std::string first, second;
  for (std::string* out : {&first, &second}) {
    SimMachine m(sim::DefaultProfile());
    sim::RunProduct(*m, L"ENHANCED");
    *out = sim::AfterJson(*m);
  }
  EXPECT_EQ(first, second);
  EXPECT_THAT(first, HasSubstr("\"mode\": \"enhanced\""));
  // Keys keep their order: time first, then disks, the tool and diskpart.
  EXPECT_EQ(testing_support::OrderFault(
                first, {"\"elapsed_ms\"", "\"disks\"", "\"storage_tool\"", "\"diskpart\""}),
            "");
}

TEST(SimAfterJson, GateClosedLeavesEverythingAsItWas) {
  sim::Profile p = sim::DefaultProfile();
  p.firmware->RAID0 = true;
  SimMachine m(p);
  ASSERT_EQ(sim::RunProduct(*m, L""), 0);
  const Json after = Json::parse(sim::AfterJson(*m));
  EXPECT_EQ(after["elapsed_ms"], 0);
  EXPECT_EQ(after["storage_tool"]["metadata_deleted"], false);
  EXPECT_EQ(after["storage_tool"]["cache_device"], nullptr);
  EXPECT_EQ(after["storage_tool"]["mode"], nullptr);
  EXPECT_TRUE(after["diskpart"].empty()) << after["diskpart"].dump();
  EXPECT_TRUE(after["disks"][1]["partitions"].empty()) << after["disks"][1]["partitions"].dump();
  EXPECT_EQ(*sim::DisksBefore(*m), sim::ViewDisks(*m));
}

// The line of the account that starts with `prefix` after the line holding `after`.
std::string LineAfter(const std::vector<std::string>& lines, const std::string& after,
                      const std::string& prefix) {
  bool seen = false;
  for (const std::string& line : lines) {
    if (line.find(after) != std::string::npos) seen = true;
    if (seen && line.rfind(prefix, 0) == 0) return line;
  }
  return "<none>";
}

TEST(SimAccount, WipedDiskIsDrawnBeforeAndAfter) {
  // An SSD that carried an old data partition: the run wipes it.
  sim::Profile p = sim::DefaultProfile();
  sim::Partition old;
  old.fs = "ntfs";
  old.label = L"OldData";
  old.size_mb = 10000;
  p.disks[1].partitions = {old};
  // An earlier run's create script, which this run writes again.
  p.temp_files.push_back({L"TScriptCreate2ndHDD.txt", "sel disk 7\r\n"});
  SimMachine m(p);
  const int code = sim::RunProduct(*m, L"");
  std::ostringstream out;
  sim::PrintAccount(*m, code, out);
  const std::vector<std::string> lines = testing_support::Lines(out.str());

  // Disks go by Windows' numbers: the hard disk stays disk 0, the SSD leaves Windows' view, and
  // its data volume is the new disk 1.
  EXPECT_THAT(LineAfter(lines, "Disks before and after", "  disk 0,"), HasSubstr(": unchanged"));
  const char* const ssd = "  not seen by Windows (cache device 0-1-0-0), 32.00 GiB,";
  EXPECT_THAT(LineAfter(lines, "Disks before and after", ssd), HasSubstr(": CHANGED (was disk 1)"));
  const std::string before = LineAfter(lines, ssd, "  before  [");
  const std::string after = LineAfter(lines, ssd, "  after   [");
  ASSERT_NE(before, "<none>") << out.str();
  ASSERT_NE(after, "<none>") << out.str();
  // Proportional: 10000 of the SSD's 32768 MB is about a third of the bar, then free space.
  const std::size_t open = before.find('[');
  const std::size_t split = before.find('|');
  const std::size_t close = before.find(']');
  ASSERT_NE(split, std::string::npos) << before;
  EXPECT_EQ(before.substr(open + 1, 7), "OldData");
  const double share =
      static_cast<double>(split - open - 1) / static_cast<double>(close - open - 2);
  EXPECT_NEAR(share, 10000.0 / 32768.0, 0.03) << before;
  EXPECT_EQ(after.substr(open + 1, 20), "(no partition table)") << "the cache took the SSD";
  EXPECT_EQ(before.size(), after.size());

  // The data volume is new: drawn once, the Rapid Start partition over all of it.
  EXPECT_THAT(LineAfter(lines, "Disks before and after", "  disk 1,"),
              AllOf(HasSubstr("the cache's data volume, 8.50 GiB"), HasSubstr(": new")));
  const std::string volume = LineAfter(lines, "  disk 1,", "          [");
  EXPECT_EQ(volume.substr(open + 1, 8), "IntelRST") << volume;
  EXPECT_THAT(volume, Not(HasSubstr("|"))) << "one partition over the whole disk";
  const std::string row = LineAfter(lines, "  disk 1,", "           1  ");
  EXPECT_THAT(row, HasSubstr("\"IntelRST\""));
  EXPECT_THAT(row, HasSubstr("Intel Rapid Start"));
  EXPECT_THAT(row, HasSubstr("0x8000000000000001"));

  // What a person needs to follow the run is all there, and fits 100 columns (only the run
  // log's own lines may be longer).
  for (const char* part :
       {"Child processes and pauses", "diskpart applied all 7 lines", "sleep 5000 ms",
        "TempProc.log", "TScriptClean2ndHDD.txt", "TScriptCreate2ndHDD.txt",
        "cache volume on 0-1-0-0", "size 23.5 GiB (--cache-size 23.5)",
        "data volume: disk 1, 8.50 GiB", "mode maximized", "Exit code: 0",
        "cachesetup (no arguments) -> provisioned, exit 0", "disks Windows saw, by disk number:",
        "TScriptCreate2ndHDD.txt (185 bytes, rewritten (an earlier run left one))"}) {
    EXPECT_THAT(out.str(), HasSubstr(part)) << part;
  }
  for (const std::string& line : lines) {
    if (line.rfind("  [2013/", 0) == 0 || line == "  " + m->root().string()) continue;
    EXPECT_LE(line.size(), 100u) << line;
  }
}

// A GPT disk full of partitions still draws a bar of the usual width, in finite time.
TEST(SimAccount, ADiskOfManyPartitionsKeepsItsBarWidth) {
  for (const std::size_t count : {15, 40, 101}) {  // 101: all a layout query holds
    sim::Profile p = sim::DefaultProfile();
    sim::Partition part;
    part.size_mb = 200;
    p.disks[1].partitions.assign(count, part);
    SimMachine m(p);
    std::ostringstream out;
    sim::PrintAccount(*m, sim::RunProduct(*m, L""), out);
    int bars = 0;
    for (const std::string& line : testing_support::Lines(out.str())) {
      if (line.find("  [") != 8 || line.find(']') == std::string::npos) continue;
      ++bars;
      EXPECT_EQ(line.find(']') - line.find('['), 81u) << count << " partitions:\n" << line;
    }
    EXPECT_GE(bars, 3) << out.str();
    if (count > 15) {
      EXPECT_THAT(out.str(), HasSubstr("+" + std::to_string(count - 14) + " more")) << count;
    }
  }
}

// The product refuses a second disk whose drive it cannot read before diskpart runs, so the
// failing script is run here as the product runs it: on a disk number no drive has.
TEST(SimAccount, FailingDiskpartLineIsShownWithItsMessage) {
  SimMachine m(sim::DefaultProfile());
  const std::wstring script = L"C:\\Windows\\Temp\\TScriptClean2ndHDD.txt";
  ASSERT_TRUE(m->WriteFile(script, "sel disk 4\r\nclean\r\n", false));
  EXPECT_NE(RunProgram(L"C:\\Windows\\system32\\diskpart.exe", L"/s \"" + script + L"\""), 0u);
  std::ostringstream out;
  sim::PrintAccount(*m, 3, out);
  EXPECT_THAT(out.str(), HasSubstr("diskpart applied 0 of 2 lines and stopped at \"sel disk 4\":"));
  EXPECT_THAT(out.str(), HasSubstr("The disk you specified is not valid."));
}

// An SSD smaller than its report says: the cache size asked for exceeds the device, and the
// account says why the tool refused, under the child and with the decision.
TEST(SimAccount, StorageToolRefusalIsQuotedWithItsReason) {
  sim::Profile p = sim::DefaultProfile();
  p.disks[1].size_mb = 16384;
  SimMachine m(p);
  const int code = sim::RunProduct(*m, L"");
  ASSERT_EQ(code, 3);
  std::ostringstream out;
  sim::PrintAccount(*m, code, out);
  // The account's lines are broken at 100 columns: read them joined.
  const std::string text = std::regex_replace(out.str(), std::regex("\n +"), " ");
  const std::string said = "Error: cache size 23.5 GB exceeds device 0-1-0-0 (16.00 GB)";
  EXPECT_THAT(text, HasSubstr("the storage tool refused it, on standard error: " + said));
  EXPECT_THAT(text, HasSubstr("Decision: needs rework: RSTCli --createCache failed, exit code 3, "
                              "no further disk change: the unit needs rework the storage tool said "
                              "(\"--accelerate --createCache --SSD 0-1-0-0 --cache-size 23.5\"): " +
                              said));
}

}  // namespace
