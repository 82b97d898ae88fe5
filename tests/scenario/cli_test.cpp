// cachesetup-sim's own command line, run as a program: what --help and --version say, the
// folders --capture refuses, and the account a quiet run keeps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/host_file.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"

namespace {

using testing::HasSubstr;
using testing_support::TempDir;

struct Ran {
  int exitCode = -1;
  std::string out;  // standard output and standard error
};

Ran Sim(const std::string& arguments) {
  Ran r;
#ifndef _WIN32
  const std::string command = std::string(CS_BINARY_DIR) + "/cachesetup-sim " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
  (void)arguments;
#endif
  return r;
}

TEST(SimCommandLine, HelpVersionCaptureFoldersAndTheQuietAccount) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's cachesetup-sim";
#endif
  std::string version =
      sim::ReadHostFile(std::filesystem::path(CS_SOURCE_DIR) / "VERSION").value_or("?");
  while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) version.pop_back();
  const Ran v = Sim("--version");
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_EQ(v.out, "cachesetup-sim " + version + "\n");

  const Ran help = Sim("--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* said :
       {"--machine PROFILE", "or a capture folder",
        "--compare   0 every file agrees, 1 one differs",
        "--summary   0 every input was replayed or read", "--out DIR", "--quiet", "--capture DIR",
        "--version", "default: ./cachesetup-run", "tar --sparse", "64 a usage", "65 the power",
        "docs/machine-profile.md"}) {
    EXPECT_THAT(help.out, HasSubstr(said));
  }

  TempDir dir;
  const std::string folder = (dir.path() / "captured").string();
  std::filesystem::create_directories(folder);
  std::ofstream(dir.path() / "captured" / "keep.txt") << "mine";
  // Windows on D:, where the capture's folder goes too.
  std::ofstream(dir.path() / "on-d.json")
      << R"({"windows": {"windows_dir": "D:\\Windows", "system_dir": "D:\\Windows\\system32"}})";
  const struct {
    std::string arguments;
    int exitCode;
    std::string says;
  } cases[] = {
      {"--capture " + folder, 64, "--capture needs a new or empty folder"},
      {"--capture " + folder + "-new --out x", 64, "leave --out away"},
      {"--capture " + folder + "-new --quiet", 0, "the captured profile is "},
      {"--machine " + (dir.path() / "on-d.json").string() + " --capture " + folder + "-d", 0,
       "no disk listed"},
      {"--bogus", 64, "unknown option '--bogus'"},
  };
  for (const auto& c : cases) {
    const Ran r = Sim(c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.out;
    EXPECT_THAT(r.out, HasSubstr(c.says)) << c.arguments;
  }
  EXPECT_EQ(sim::ReadHostFile(dir.path() / "captured" / "keep.txt"), "mine");

  const std::string out = (dir.path() / "run").string();
  const Ran quiet = Sim("--out " + out + " --quiet -- ENHANCED");
  EXPECT_EQ(quiet.exitCode, 0) << quiet.out;
  EXPECT_EQ(quiet.out, "");
  EXPECT_THAT(sim::ReadHostFile(dir.path() / "run" / "account.txt").value_or("<missing>"),
              HasSubstr("\nExit code: 0 (reached its end"));

  // A capture folder stands for its machine.json; a run folder takes no run inside it.
  const std::string run = (dir.path() / "run").string();
  const struct {
    std::string arguments;
    int exitCode;
    std::string says;
  } folders[] = {
      {"--machine " + folder + "-new --out " + run + " --quiet", 0, ""},
      {"--machine " + folder + " --out " + run, 64,
       "--machine needs a profile file or a capture folder holding machine.json: " + folder +
           " is a folder without machine.json"},
      {"--out " + run + "/again", 64,
       "output folder " + run + "/again lies inside " + run +
           ", an earlier run's folder, where a run leaves only its own files ('again' is none of "
           "them); choose a folder outside it"},
  };
  for (const auto& c : folders) {
    const Ran r = Sim(c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.out;
    EXPECT_THAT(r.out, HasSubstr(c.says)) << c.arguments;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "run" / "again"));
}

// What the docs promise a reader, run as the reader would: the profile example of
// docs/machine-profile.md provisions, and the changes its text warns of end as it says; the
// README's figures for the default notebook's capture and run hold.
TEST(SimCommandLine, TheDocsExampleAndFiguresHold) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's cachesetup-sim";
#endif
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string docs =
      sim::ReadHostFile(fs::path(CS_SOURCE_DIR) / "docs" / "machine-profile.md").value_or("");
  std::smatch block;
  ASSERT_TRUE(std::regex_search(docs, block, std::regex("## Example\n\n```json\n([^`]*)```")));
  const struct {
    const char* name;
    std::string from, to;  // the one change to the example
    int exitCode;
    std::string decision;
  } cases[] = {
      {"as written", "", "", 0, "-> provisioned, exit 0"},
      {"the SSD's media type mistyped", "\"Fixed hard disk media\", \"Model\": \"SSD\"",
       "\"Fixed hard disk\", \"Model\": \"SSD\"", 0, "-> gate shut: 1 fixed disk, exit 0"},
      {"no serial in the SSD's report", "\"serial\": \"SSD0001\", ", "", 2,
       "-> refused: cache device serial is not SecondHDD's, exit 2"},
      {"the hard disk's layout query fails", "\"disks\": [",
       "\"faults\": [\"DriveLayout:0\"], \"disks\": [", 1,
       "-> stopped early: no \"Recovery\" partition, exit 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string profile = block[1].str();
    if (!c.from.empty()) {
      const std::size_t at = profile.rfind(c.from);
      ASSERT_NE(at, std::string::npos) << c.from;
      profile.replace(at, c.from.size(), c.to);
    }
    std::ofstream(dir.path() / "example.json", std::ios::trunc) << profile;
    const Ran r = Sim("--machine " + (dir.path() / "example.json").string() + " --out " +
                      (dir.path() / "run").string());
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
    EXPECT_THAT(r.out, HasSubstr(c.decision)) << profile;
  }

  const std::string readme = sim::ReadHostFile(fs::path(CS_SOURCE_DIR) / "README.md").value_or("");
  std::smatch said;
  ASSERT_TRUE(std::regex_search(
      readme, said, std::regex("default notebook's folder holds ([0-9,]+) bytes in (\\w+) files")));
  ASSERT_EQ(Sim("--capture " + (dir.path() / "captured").string() + " --quiet").exitCode, 0);
  std::uintmax_t bytes = 0;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path() / "captured")) {
    bytes += entry.file_size();
    ++files;
  }
  std::string written = said[1].str();
  written.erase(std::remove(written.begin(), written.end(), ','), written.end());
  EXPECT_EQ(std::to_string(bytes), written);
  const char* const words[] = {"one", "two", "three", "four", "five", "six"};
  EXPECT_EQ(said[2].str(), files <= 6 ? words[files - 1] : std::to_string(files));
  ASSERT_TRUE(std::regex_search(
      readme, said, std::regex("uninterrupted run on the default notebook starts (\\d+) child")));
  ASSERT_EQ(Sim("--out " + (dir.path() / "run").string() + " --quiet").exitCode, 0);
  const std::string transcript =
      sim::ReadHostFile(dir.path() / "run" / "transcript.tsv").value_or("");
  int children = 0;
  for (const std::string& line : testing_support::Lines(transcript)) {
    children += line.rfind("run\t", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(std::to_string(children), said[1].str()) << transcript;
}

// The line's files (a copy of a default run's Temp folder, then changed) against replays:
// agreeing files whatever the clock or the names' letter case, a log that is a prefix of the
// replay's, a file only on the line, and the folders --compare refuses. The replay's verdict
// comes first and closes the comparison.
TEST(SimCommandLine, CompareSaysTheReplaysVerdictThenEachFile) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's cachesetup-sim";
#endif
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path captured = dir.path() / "captured";
  ASSERT_EQ(Sim("--capture " + captured.string() + " --quiet").exitCode, 0);
  ASSERT_EQ(Sim("--out " + (dir.path() / "first").string() + " --quiet").exitCode, 0);
  const fs::path temp = dir.path() / "first" / "C" / "Windows" / "Temp";
  const auto edit = [](const fs::path& file, auto change) {
    std::string bytes = sim::ReadHostFile(file).value_or("");
    change(bytes);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  };
  const std::string raid0 = std::string(CS_SOURCE_DIR) + "/examples/raid0-gate-refuses.json";
  const struct {
    const char* name;
    std::string replay;  // the --machine of the replay
    std::function<void(const fs::path&)> change;
    int exitCode;
    std::vector<std::string> says;
  } cases[] = {
      {"as the line left it",
       captured.string(),
       [](const fs::path&) {},
       0,
       {"TempProc.log: agrees (15 lines, time stamps aside)", "IntelRSTCli.log: agrees (100 lines)",
        "The line's files agree with the replay, which exited 0: provisioned.\n"}},
      {"run at another clock",
       captured.string(),
       [&](const fs::path& line) {
         edit(line / "TempProc.log", [](std::string& b) {
           for (std::size_t at; (at = b.find("2013/06/03 09:00")) != std::string::npos;)
             b.replace(at, 16, "2014/12/31 23:59");
         });
       },
       0,
       {"TempProc.log: agrees (15 lines, time stamps aside)"}},
      {"names in another letter case",
       captured.string(),
       [](const fs::path& line) {
         for (const char* name : {"TempProc.log", "IntelRSTCli.log", "TScriptCreate2ndHDD.txt"}) {
           std::string lower = name;
           for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
           fs::rename(line / name, line / lower);
         }
       },
       0,
       {"TempProc.log: agrees (15 lines", "TScriptCreate2ndHDD.txt: agrees (7 lines)"}},
      {"the log a prefix of the replay's",
       captured.string(),
       [&](const fs::path& line) {
         edit(line / "TempProc.log", [](std::string& b) { b.erase(b.rfind('[')); });
       },
       1,
       {"TempProc.log: DIFFERS at line 15\n  line:   (ends)\n  replay: End process...\n"}},
      {"a script changed, a report missing",
       captured.string(),
       [](const fs::path& line) {
         std::ofstream(line / "TScriptCreate2ndHDD.txt", std::ios::binary | std::ios::trunc)
             << "sel disk 0\r\nclean\r\n";
         fs::remove(line / "TRSTCliLog.txt");
       },
       1,
       {"TScriptCreate2ndHDD.txt: DIFFERS at line 1\n  line:   sel disk 0\n  replay: sel disk 1\n",
        "TRSTCliLog.txt: DIFFERS: written by the replay only",
        "2 of 5 files differ; the replay exited 0: provisioned.\n"}},
      {"files only on the line, the gate shut in the replay",
       raid0,
       [](const fs::path&) {},
       1,
       {"The replay exited 0: gate shut: RAID0 on.\n",
        "TempProc.log: DIFFERS at line 3\n  line:   bIsSupportRAID0 = FALSE.\n",
        "IntelRSTCli.log: DIFFERS: written on the line only", "5 of 5 files differ"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path line = dir.path() / ("line" + std::to_string(++n));
    fs::copy(temp, line);
    c.change(line);
    const Ran r = Sim("--machine " + c.replay + " --out " + (dir.path() / "replay").string() +
                      " --quiet --compare " + line.string());
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
    // Quiet, the verdict is the first line; nothing stands before it.
    EXPECT_EQ(r.out.rfind("The replay exited ", 0), 0u) << r.out;
    for (const std::string& said : c.says) EXPECT_THAT(r.out, HasSubstr(said)) << r.out;
  }

  std::ofstream(dir.path() / "a-file") << "x";
  fs::create_directories(dir.path() / "empty");
  for (const auto& [folder, says] : std::vector<std::pair<fs::path, std::string>>{
           {dir.path() / "nosuch", "nosuch does not exist"},
           {dir.path() / "a-file", "a-file is a file"},
           {dir.path() / "empty", "empty holds none of them"},
           {dir.path() / "first",
            "holds none of them (it is a simulator run folder: its Temp "
            "files are in " +
                temp.string() + ")"}}) {
    const Ran r =
        Sim("--out " + (dir.path() / "replay").string() + " --compare " + folder.string());
    EXPECT_EQ(r.exitCode, 64) << r.out;
    EXPECT_THAT(r.out, HasSubstr("--compare needs a folder holding the files a unit leaves in its "
                                 "%WINDIR%\\Temp folder (TempProc.log, TScriptClean2ndHDD.txt, "
                                 "TScriptCreate2ndHDD.txt, IntelRSTCli.log or TRSTCliLog.txt)"));
    EXPECT_THAT(r.out, HasSubstr(says));
  }
}

// The fields of each summary.csv line, quotes undone; fails the test on a quote left open.
std::vector<std::vector<std::string>> CsvRows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    const char c = csv[i];
    if (c == '"' && quoted && i + 1 < csv.size() && csv[i + 1] == '"') {
      rows.back().back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      rows.back().emplace_back();
    } else if (c == '\n' && !quoted) {
      rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  EXPECT_FALSE(quoted) << csv;
  rows.pop_back();  // after the last line end
  return rows;
}

// A summary that succeeds over captures (one without a storage report) and line folders (one
// whose name holds a comma), all with the line's arguments; the page's counts against
// summary.csv; then inputs that cannot be run or read, and options --summary does not take.
TEST(SimCommandLine, SummaryOverCapturesAndLineFolders) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's cachesetup-sim";
#endif
  namespace fs = std::filesystem;
  TempDir dir;
  const fs::path captured = dir.path() / "captured", bare = dir.path() / "bare";
  ASSERT_EQ(Sim("--capture " + captured.string() + " --quiet").exitCode, 0);
  ASSERT_EQ(Sim("--capture " + bare.string() + " --quiet -- --no-storage-tool").exitCode, 0);
  ASSERT_EQ(Sim("--out " + (dir.path() / "first").string() + " --quiet").exitCode, 0);
  ASSERT_EQ(Sim("--machine " + (dir.path() / "first" / "after-machine.json").string() + " --out " +
                (dir.path() / "second").string() + " --quiet")
                .exitCode,
            0);
  const fs::path unit = dir.path() / "unit 7, bay 2", again = dir.path() / "again";
  fs::copy(dir.path() / "first" / "C" / "Windows" / "Temp", unit);
  fs::copy(dir.path() / "second" / "C" / "Windows" / "Temp", again);
  const fs::path out = dir.path() / "summary";
  const Ran ok = Sim("--out " + out.string() + " --summary " + captured.string() + " " +
                     bare.string() + " '" + unit.string() + "' " + again.string() + " -- ENHANCED");
  EXPECT_EQ(ok.exitCode, 0) << ok.out;
  EXPECT_THAT(ok.out,
              HasSubstr("4 notebooks (provisioned 2, already provisioned 1, identity cannot "
                        "be proven 1), 0 could not be run or read"));
  const std::string csv = sim::ReadHostFile(out / "summary.csv").value_or("<missing>");
  const std::vector<std::vector<std::string>> rows = CsvRows(csv);
  ASSERT_EQ(rows.size(), 5u) << csv;
  for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size()) << csv;
  const auto field = [&rows](std::size_t row, const std::string& name) {
    for (std::size_t i = 0; i < rows[0].size(); ++i) {
      if (rows[0][i] == name) return rows[row][i];
    }
    return std::string("<no column ") + name + ">";
  };
  const struct {
    std::size_t row;
    const char* column;
    std::string value;
  } expected[] = {
      {1, "kind", "capture"},
      {1, "outcome", "provisioned"},
      {1, "mode", "enhanced"},
      {1, "arguments", "ENHANCED"},
      {1, "cache_size", "23.50 GB"},
      {1, "intelrst_disk", "1"},
      {1, "windows_bits", "64"},
      {1, "memory_mb", "8192"},
      {2, "decision", "identity cannot be proven: no storage report in the capture"},
      {2, "exit_code", "2"},
      {3, "kind", "line"},
      {3, "input", unit.string()},
      {3, "outcome", "provisioned"},
      {3, "mode", "maximized"},
      {3, "intelrst_size", "8.50 GB"},
      {3, "models", "HGST HTS545050A7E380 + SanDisk SSD i100 32GB"},
      {4, "decision",
       "already provisioned: cache volume on device 0-1-0-0, 0-0-0-0 accelerated maximized, "
       "IntelRST partition on Disk[1]"},
      {4, "exit_code", ""},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(field(e.row, e.column), e.value) << "row " << e.row << " " << e.column << "\n" << csv;
  }
  EXPECT_EQ(field(4, "outcome"), "already provisioned") << csv;
  // The page's chart says what summary.csv counts.
  std::map<std::string, int> counted, charted;
  for (std::size_t i = 1; i < rows.size(); ++i) ++counted[field(i, "outcome")];
  const std::string page = sim::ReadHostFile(out / "summary.html").value_or("<missing>");
  static const std::regex bar("<g class=\"bar\"><title>([^<]*): ([0-9]+)</title>");
  for (std::sregex_iterator m(page.begin(), page.end(), bar), end; m != end; ++m) {
    charted[(*m)[1].str()] += std::stoi((*m)[2].str());
  }
  EXPECT_EQ(charted, counted) << page;
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("http://www.w3.org/2000/svg"), page.find("http"));  // fetches nothing

  fs::create_directories(dir.path() / "empty");
  std::ofstream(dir.path() / "bad.json") << "{\"bogus\": 1}";
  const Ran failing =
      Sim("--out " + out.string() + " --summary " + captured.string() + " " +
          (dir.path() / "bad.json").string() + " " + (dir.path() / "empty").string());
  EXPECT_EQ(failing.exitCode, 1) << failing.out;
  for (const char* said : {"3 notebooks (provisioned 1, could not run 2), 2 could not be run",
                           "bad.json [profile]: bad profile: ", "key 'bogus': unknown key",
                           "empty: could not read: the folder holds neither machine.json"}) {
    EXPECT_THAT(failing.out, HasSubstr(said));
  }
  for (const char* option : {"--quiet", "--machine x.json", "--compare x"}) {
    const Ran r =
        Sim(std::string(option) + " --out " + out.string() + " --summary " + captured.string());
    EXPECT_EQ(r.exitCode, 64) << option;
    EXPECT_THAT(r.out, HasSubstr("--summary takes only --out DIR and -- PRODUCT-ARGS, not " +
                                 std::string(option).substr(0, std::string(option).find(' '))));
  }
}

}  // namespace
