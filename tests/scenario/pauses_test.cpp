// The four pauses of the provisioning branch: where they fall among the product's own child
// processes in the transcript, how long they are, and where they fall among the run log's lines
// (the virtual clock moves only with the pauses, so the stamps show which lines precede them).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"

namespace {

using testing_support::FileBytes;
using testing_support::SimMachine;

// The product's own events: its child processes started through cmd.exe or diskpart.exe, and
// its pauses. Programs that those children start in turn are left out.
struct Event {
  enum class Kind { Run, Sleep } kind;
  std::wstring program;     // cmd.exe or diskpart.exe, upper-case-insensitive file name
  std::wstring parameters;  // for Run
  std::uint32_t ms = 0;     // for Sleep
};

bool EndsWithNoCase(const std::wstring& text, const std::wstring& end) {
  if (text.size() < end.size()) return false;
  return sim::UpperPath(text.substr(text.size() - end.size())) == sim::UpperPath(end);
}

std::vector<Event> ProductEvents(const sim::Machine& m) {
  const std::wstring cmd = m.profile().system_dir + L"\\cmd.exe";
  const std::wstring diskpart = m.profile().system_dir + L"\\diskpart.exe";
  std::vector<Event> events;
  for (const sim::TranscriptEntry& e : m.transcript()) {
    if (e.kind == "sleep") {
      events.push_back(Event{Event::Kind::Sleep, L"", L"", e.value});
    } else if (e.kind == "run" && (sim::UpperPath(e.program) == sim::UpperPath(cmd) ||
                                   sim::UpperPath(e.program) == sim::UpperPath(diskpart))) {
      events.push_back(
          Event{Event::Kind::Run,
                EndsWithNoCase(e.program, L"\\diskpart.exe") ? L"diskpart.exe" : L"cmd.exe",
                e.parameters, 0});
    }
  }
  return events;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// Each line of the run log as "HH:MM:SS text" (the time of day and the text after the tab).
std::vector<std::string> StampedTimes(const std::string& log) {
  std::vector<std::string> out;
  for (const std::string& line : testing_support::CrLfLines(log)) {
    const std::size_t tab = line.find('\t');
    // "[YYYY/MM/DD HH:MM:SS]": the time of day sits at 12..19.
    out.push_back(tab == 21 ? line.substr(12, 8) + " " + line.substr(tab + 1) : "<bad> " + line);
  }
  return out;
}

struct Case {
  const char* name;
  int windowsBits;
  bool iffs;
  std::vector<std::string> arguments;
  const wchar_t* tool;         // the storage tool's file name in the commands
  bool cacheSize;              // the cache command names a size (with Rapid Start)
  const wchar_t* modeCommand;  // how the mode command ends
  // A cache over the whole SSD (no Rapid Start) leaves no data volume: no create script and no
  // pause after it.
  bool createScript = true;
};

class Pauses : public ::testing::TestWithParam<Case> {};

TEST_P(Pauses, FourPausesAtTheirPlacesWithTheirLengths) {
  const Case& c = GetParam();
  sim::Profile profile = sim::DefaultProfile();
  profile.windows_bits = c.windowsBits;
  profile.firmware->IFFS = c.iffs;
  SimMachine m(profile);
  sim::RunProduct(*m, sim::JoinCommandLine(c.arguments));

  const std::vector<Event> events = ProductEvents(*m);
  std::vector<std::size_t> sleeps;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == Event::Kind::Sleep) sleeps.push_back(i);
  }
  std::vector<std::uint32_t> expected = {2000, 2000, 5000, 2000};
  if (!c.createScript) expected.pop_back();
  ASSERT_EQ(sleeps.size(), expected.size()) << sim::TranscriptText(*m);
  std::vector<std::uint32_t> lengths;
  for (std::size_t s : sleeps) lengths.push_back(events[s].ms);
  EXPECT_EQ(lengths, expected);
  EXPECT_EQ(m->elapsed_ms(), c.createScript ? 11000u : 9000u);

  // Every pause stands between two of the product's child processes (the last one at the end),
  // never next to another pause and never before the first child.
  for (std::size_t s : sleeps) {
    ASSERT_GT(s, 0u);
    ASSERT_EQ(events[s - 1].kind, Event::Kind::Run) << s;
    if (s + 1 < events.size()) {
      ASSERT_EQ(events[s + 1].kind, Event::Kind::Run) << s;
    }
  }
  const std::wstring tool = std::wstring(L"\\Temp\\") + c.tool + L" ";
  auto before = [&](std::size_t k) -> const Event& { return events[sleeps[k] - 1]; };
  auto after = [&](std::size_t k) -> const Event& { return events[sleeps[k] + 1]; };

  auto isCreate = [&](const Event& e) {
    return Contains(e.parameters, tool + L"--accelerate --createCache --SSD ") &&
           Contains(e.parameters, L" --cache-size ") == c.cacheSize;
  };

  // 1: after deleting the metadata, before creating the cache.
  EXPECT_TRUE(EndsWithNoCase(before(0).parameters, tool + L"-M --delete-all-metadata"))
      << sim::ToUtf8(before(0).parameters);
  EXPECT_TRUE(isCreate(after(0))) << sim::ToUtf8(after(0).parameters);
  // 2: after creating the cache, right before the mode command.
  EXPECT_TRUE(isCreate(before(1))) << sim::ToUtf8(before(1).parameters);
  EXPECT_TRUE(
      Contains(after(1).parameters, tool + L"--accelerate --setAccelConfig --disk-to-accel "))
      << sim::ToUtf8(after(1).parameters);
  EXPECT_TRUE(EndsWithNoCase(after(1).parameters, c.modeCommand))
      << sim::ToUtf8(after(1).parameters);
  // 3: after the final information command (C2 after the marker), before the create script.
  EXPECT_TRUE(Contains(before(2).parameters, tool + L"-I >> \""))
      << sim::ToUtf8(before(2).parameters);
  ASSERT_GE(sleeps[2], 2u);
  EXPECT_TRUE(Contains(events[sleeps[2] - 2].parameters, L"AFTER RSTCLI ACCELERATE COMMAND"))
      << sim::ToUtf8(events[sleeps[2] - 2].parameters);
  if (c.createScript) {
    EXPECT_EQ(after(2).program, L"diskpart.exe");
    EXPECT_TRUE(Contains(after(2).parameters, L"\\Temp\\TScriptCreate2ndHDD.txt\""))
        << sim::ToUtf8(after(2).parameters);
    // 4: after the create script, the product's last event.
    EXPECT_EQ(before(3).program, L"diskpart.exe");
    EXPECT_TRUE(Contains(before(3).parameters, L"\\Temp\\TScriptCreate2ndHDD.txt\""))
        << sim::ToUtf8(before(3).parameters);
  }
  EXPECT_EQ(sleeps.back() + 1, events.size());

  // In the run log the second pause follows "Set accelerate mode...": that line carries the
  // time before it, the next line the time after the third pause too.
  const std::vector<std::string> log =
      StampedTimes(FileBytes(*m, m->profile().windows_dir + L"\\Temp\\TempProc.log"));
  auto lineAt = [&](const std::string& text) -> std::string {
    for (const std::string& l : log) {
      if (l.size() > 9 && l.substr(9) == text) return l.substr(0, 8);
    }
    return "<no line>";
  };
  EXPECT_EQ(lineAt("Run Intel RSTCli Tool... Delete all metadata..."), "09:00:00");
  EXPECT_EQ(lineAt("Run Intel RSTCli Tool... Create cache volume..."), "09:00:02");
  EXPECT_EQ(lineAt("Run Intel RSTCli Tool... Set accelerate mode..."), "09:00:02");
  EXPECT_EQ(lineAt("Create IntelRST partition..."), c.createScript ? "09:00:09" : "<no line>");
  EXPECT_EQ(lineAt("End process..."), c.createScript ? "09:00:11" : "09:00:09");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Pauses,
    ::testing::Values(
        Case{"Default64Bit", 64, true, {}, L"RSTCLI64.exe", true, L" --mode maximized"},
        Case{"Windows32Bit", 32, true, {}, L"RSTCLI.exe", true, L" --mode maximized"},
        Case{"EnhancedWithoutRapidStart",
             64,
             false,
             {"enhanced"},
             L"RSTCLI64.exe",
             false,
             L" --mode enhanced",
             false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Runs that never reach the branch do not pause at all.
TEST(PausesOutsideTheBranch, RunsThatStopEarlyOrAreGatedNeverPause) {
  struct Variant {
    const char* name;
    void (*change)(sim::Profile&);
  };
  const Variant variants[] = {
      {"ISRT off", [](sim::Profile& p) { p.firmware->ISRT = false; }},
      {"RAID0 on", [](sim::Profile& p) { p.firmware->RAID0 = true; }},
      {"no control device", [](sim::Profile& p) { p.firmware.reset(); }},
      {"no recovery partition", [](sim::Profile& p) { p.disks[0].partitions[3].label = L"Data"; }},
  };
  for (const Variant& v : variants) {
    sim::Profile profile = sim::DefaultProfile();
    v.change(profile);
    SimMachine m(profile);
    sim::RunProduct(*m, L"");
    for (const sim::TranscriptEntry& e : m->transcript()) EXPECT_NE(e.kind, "sleep") << v.name;
    EXPECT_EQ(m->elapsed_ms(), 0u) << v.name;
  }
}

}  // namespace
