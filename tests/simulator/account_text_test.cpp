// The account on a terminal: damaged tables drawn within the bar, control characters made
// visible, and the account's lines within 100 columns whatever a profile carries; and what the
// summary reads from a run log that came back from the line without its run.
#include "sim/harness/account_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "sim/harness/account.h"
#include "sim/harness/disk_bars.h"
#include "sim/harness/run.h"
#include "sim/harness/run_log.h"
#include "sim/harness/summary_table.h"
#include "sim/profile/profile.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"
#include "tests/support/wmi_values.h"

using testing::HasSubstr;

namespace {

using testing_support::SimMachine;

constexpr std::uint64_t kGiB = 1ull << 30;

sim::PartitionView Entry(const char* label, std::uint64_t offset, std::uint64_t length) {
  sim::PartitionView p;
  p.offset = offset;
  p.length = length;
  p.fs = "NTFS";
  p.label = label;
  return p;
}

// Entries a damaged table may hold: past the end, overflowing 2^64 when added, overlapping, on a
// disk of no bytes. Each bar keeps its width; `first` is the first cell's width where the
// entries on the disk decide it.
TEST(SimDiskBar, DamagedTablesAreDrawnAsFarAsTheDiskGoes) {
  const struct {
    const char* name;
    std::uint64_t bytes;
    std::vector<sim::PartitionView> partitions;
    std::size_t first;  // 0: not checked
  } cases[] = {
      {"the second runs 2^59 bytes past the end",
       100 * kGiB,
       {Entry("Half", 0, 50 * kGiB), Entry("Runaway", 50 * kGiB, 1ull << 59)},
       40},
      {"the second starts past the end",
       100 * kGiB,
       {Entry("Half", 0, 50 * kGiB), Entry("Beyond", 1ull << 50, kGiB)},
       37},  // the free half and "Beyond" take their label widths from the rest
      {"offset plus length passes 2^64",
       100 * kGiB,
       {Entry("Half", 0, 50 * kGiB), Entry("Wrap", 60 * kGiB, ~0ull - kGiB)},
       0},
      {"three overlapping entries, each the whole disk",
       100 * kGiB,
       {Entry("A", 0, 100 * kGiB), Entry("B", 0, 100 * kGiB), Entry("C", 0, 100 * kGiB)},
       0},
      {"a disk of no bytes", 0, {Entry("Nothing", 0, kGiB), Entry("More", kGiB, kGiB)}, 0},
  };
  for (const auto& c : cases) {
    sim::DiskView d;
    d.style = "gpt";
    d.bytes = c.bytes;
    d.partitions = c.partitions;
    const std::string bar = sim::DiskBar(d);
    EXPECT_EQ(bar.size(), sim::kDiskBarInner + 2) << c.name << ": " << bar;
    EXPECT_EQ(bar.front(), '[') << c.name << ": " << bar;
    EXPECT_EQ(bar.back(), ']') << c.name << ": " << bar;
    if (c.first != 0) {
      EXPECT_NEAR(static_cast<double>(bar.find('|') - 1), static_cast<double>(c.first), 2.0)
          << c.name << ": " << bar;
    }
  }
}

TEST(SimAccountText, ControlCharactersAreShownNotActedOn) {
  EXPECT_EQ(sim::Printable("a\x1b[2Jb\tc\x7f\xc2\x9b"
                           "d\xc3\xa9\n\x07"),
            "a^[[2Jb^Ic^?<U+009B>d\xc3\xa9\n^G");
  EXPECT_EQ(sim::Printable("[time]\tline\x1b", true), "[time]\tline^[") << "a quoted file's tabs";
}

TEST(SimAccountText, LongLinesBreakAtBlanksWithinTheColumns) {
  std::string words = "  ";
  for (int i = 0; i < 60; ++i) words += "w\xc3\xa9rd" + std::to_string(i) + " ";
  const std::string unbroken = "  " + std::string(250, 'x');
  std::ostringstream out;
  sim::WriteWrapped(out, words + "\nshort\n" + unbroken + "\n", 100);
  const std::vector<std::string> lines = testing_support::Lines(out.str());
  std::string rejoined;
  std::string xs;
  for (const std::string& line : lines) {
    EXPECT_LE(sim::Columns(line), 100u) << line;
    if (line.find("rd") != std::string::npos) rejoined += line.substr(line.find_first_not_of(' '));
    if (line.find('x') != std::string::npos) xs += line.substr(line.find_first_not_of(' '));
  }
  std::string expected = words.substr(2);
  expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
  rejoined.erase(std::remove(rejoined.begin(), rejoined.end(), ' '), rejoined.end());
  EXPECT_EQ(rejoined, expected) << out.str();
  EXPECT_EQ(xs, std::string(250, 'x')) << out.str();
  EXPECT_THAT(out.str(), HasSubstr("\nshort\n"));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].find_first_not_of(' '), 6u) << "continued four past the indent: " << lines[1];
}

// A notebook whose texts are long or carry escape sequences, run to a power cut, a failing
// child and without a Temp folder: every account line the simulator writes fits 100 columns,
// nothing reaches the terminal as a control character, and nothing is cut off.
TEST(SimAccount, HostileTextsKeepTheTerminalSafeAndTheLinesNarrow) {
  const std::wstring model =
      L"\x1b]0;owned\x07Vendor Model With A Name Far Longer Than Any Line Of The Account Can "
      L"Hold In One Piece Ending In TAILWORD";
  const std::vector<std::vector<std::string>> faults = {{"PowerCut:9"}, {"ChildExit:10=3"}, {}};
  for (const auto& f : faults) {
    for (const bool temp : {true, false}) {
      sim::Profile p = sim::DefaultProfile();
      p.faults = f;
      p.temp_folder = temp;
      for (sim::Disk& d : p.disks) {
        for (sim::WmiProperty& w : d.wmi) {
          if (w.name == L"Model") w = testing_support::WmiText(L"Model", model);
        }
      }
      p.disks[0].partitions[2].label = L"\x1b[31mRED";
      SimMachine m(p);
      std::ostringstream out;
      sim::PrintAccount(*m, sim::RunProduct(*m, L""), out);
      const std::string text = out.str();
      const std::string at = (f.empty() ? "no fault" : f[0]) + (temp ? "" : ", no Temp");
      EXPECT_THAT(text, HasSubstr("^[]0;owned^G")) << at;
      EXPECT_THAT(text, HasSubstr("TAILWORD")) << at;
      EXPECT_EQ(std::count(text.begin(), text.end(), '\x1b'), 0) << at;
      for (const std::string& line : testing_support::Lines(text)) {
        // The run log's own lines, quoted whole, keep the tab after their time stamps.
        const bool logLine = line.rfind("  [2013/", 0) == 0;
        EXPECT_TRUE(std::none_of(line.begin(), line.end(),
                                 [logLine](char c) {
                                   return static_cast<unsigned char>(c) < 0x20 &&
                                          !(logLine && c == '\t');
                                 }))
            << at << ": " << line;
        if (logLine || line == "  " + m->root().string()) continue;
        EXPECT_LE(sim::Columns(line), 100u) << at << ": " << line;
      }
    }
  }
}

// Each way a line's run log can end, read from the log alone, and the outcome it is counted as.
TEST(RunLogReading, EachEndingGivesItsDecisionAndOutcome) {
  const std::vector<std::string> gate = {"bIsSupportIFFS = TRUE.", "bIsSupportRAID0 = FALSE.",
                                         "bIsSupportISRT = TRUE.", "Size = 8192 MB",
                                         "Get MasterHDD info, DiskIndex = 0"};
  const struct {
    std::vector<std::string> tail;  // after the gate's lines; "-" alone: an empty log
    std::string decision, outcome;
  } cases[] = {
      {{"-"},
       "no log: TempProc.log is empty (the disk inventory failed or found no disk; the run "
       "stopped early, exit 1)",
       "no log"},
      {{"Get SecondHDD info, DiskIndex = 1", "Run Intel RSTCli Tool... Create cache volume...",
        "Create IntelRST partition...", "End process..."},
       "provisioned",
       "provisioned"},
      {{"End process..."}, "gate shut: 1 fixed disk", "gate shut"},
      {{"[Debug]: Not exist 'Recovery' partition on Disk[2]"},
       "stopped early: no \"Recovery\" partition on Disk[2]",
       "no \"Recovery\""},
      {{"[Debug]: Disk identity not proven, no disk changed: cache device serial is not "
        "SecondHDD's: cache device 0-1-0-0 serial 'X' size 32"},
       "refused: cache device serial is not SecondHDD's",
       "refused"},
      {{"[Debug]: RSTCli --createCache failed, exit code 3, no further disk change: the unit "
        "needs rework"},
       "needs rework: RSTCli --createCache failed, exit code 3, no further disk change: the unit "
       "needs rework",
       "needs rework"},
      {{"Run Intel RSTCli Tool... Create cache volume..."},
       "cut short after \"Run Intel RSTCli Tool... Create cache volume...\"",
       "cut short"},
      // A line of a form this reader does not know stands as it is, its first words the outcome.
      {{"[Debug]: Already provisioned, cache volume on 0-1-0-0: nothing to do"},
       "already provisioned, cache volume on 0-1-0-0: nothing to do",
       "already provisioned"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> texts = gate;
    if (c.tail == std::vector<std::string>{"-"}) texts.clear();
    if (c.tail != std::vector<std::string>{"-"})
      texts.insert(texts.end(), c.tail.begin(), c.tail.end());
    const std::string decision = sim::DecisionFromLog(texts);
    EXPECT_EQ(decision, c.decision) << c.tail.back();
    EXPECT_EQ(sim::OutcomeOf(decision), c.outcome) << decision;
  }
  EXPECT_TRUE(sim::OutcomeBefore("provisioned", "refused"));
  EXPECT_TRUE(sim::OutcomeBefore("cut short", "an outcome of another name"));
  EXPECT_TRUE(sim::OutcomeBefore("an outcome of another name", "could not run"));
}

}  // namespace
