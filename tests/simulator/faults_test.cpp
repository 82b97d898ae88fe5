// Faults of a machine profile: what the simulator does for them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/disks/partition_table.h"
#include "sim/harness/run.h"
#include "sim/programs/diskpart.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::FileBytes;
using testing_support::SimMachine;

struct ChildExitCase {
  const char* name;
  std::size_t child;  // the N of "ChildExit:N=K"; the power is cut after it in both runs
  std::uint32_t code;
  std::vector<std::string> faults;
  std::function<std::string(sim::Machine&)> trace;  // what the child's program changes
};

struct ChildExitRun {
  std::vector<sim::TranscriptEntry> children;
  std::string before, after;  // the trace before and after the run
};

ChildExitRun RunToChild(const ChildExitCase& c, bool faulted) {
  sim::Profile profile = sim::DefaultProfile();
  profile.faults = {"PowerCut:" + std::to_string(c.child)};
  if (faulted) profile.faults.insert(profile.faults.end(), c.faults.begin(), c.faults.end());
  SimMachine m(profile);
  ChildExitRun run;
  run.before = c.trace(*m);
  sim::RunProduct(*m, L"");
  run.after = c.trace(*m);
  for (const sim::TranscriptEntry& e : m->transcript()) {
    if (e.kind == "run") run.children.push_back(e);
  }
  return run;
}

// The default notebook's 7th child writes the storage tool's report through cmd.exe's
// redirection; its 8th is diskpart with the script that cleans disk 1.
TEST(ChildExitFault, EndsOnlyThatChildWithItsCodeAndItsProgramChangesNothing) {
  const ChildExitCase cases[] = {
      {"cmd.exe redirecting the report",
       7,
       4294967295u,
       {"ChildExit:99=1", "ChildExit:7=4294967295"},
       [](sim::Machine& m) { return FileBytes(m, L"C:\\Windows\\Temp\\TRSTCliLog.txt"); }},
      {"diskpart cleaning disk 1", 8, 5, {"ChildExit:8=5"}, [](sim::Machine& m) {
         return "disk 1 style " + std::to_string(sim::ReadDiskLayout(m, 1).style) +
                ", diskpart runs " + std::to_string(sim::Diskpart(m).runs.size());
       }}};
  for (const ChildExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ChildExitRun plain = RunToChild(c, false);
    const ChildExitRun faulted = RunToChild(c, true);
    ASSERT_EQ(plain.children.size(), c.child);
    ASSERT_EQ(faulted.children.size(), c.child);
    for (std::size_t i = 0; i < c.child; ++i) {
      const sim::TranscriptEntry& want = plain.children[i];
      const sim::TranscriptEntry& got = faulted.children[i];
      EXPECT_EQ(got.program + L" " + got.parameters, want.program + L" " + want.parameters)
          << "child " << i + 1;
      EXPECT_EQ(got.value, i + 1 == c.child ? c.code : want.value) << "child " << i + 1;
    }
    EXPECT_NE(plain.after, plain.before) << "the child's program left no trace to look for";
    EXPECT_EQ(faulted.after, faulted.before) << "the child's program ran";
  }
}

}  // namespace
