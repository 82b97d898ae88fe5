#include "sim/harness/summary.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "sim/core/host_file.h"
#include "sim/core/run_folder.h"
#include "sim/core/text.h"
#include "sim/harness/account_text.h"
#include "sim/profile/profile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace sim {

#ifdef _WIN32
// Many runs at once need the host's processes; the Windows build runs the simulator's tests only.
int RunSummary(const std::string& self, const std::vector<std::string>& inputs,
               const std::filesystem::path& outDir, std::ostream& out) {
  (void)self, (void)inputs, (void)outDir;
  out << "cachesetup-sim: --summary runs on the host's build only\n";
  return 1;
}
#else
namespace {

struct Row {
  std::string input, models, fixedDisks, raid0, isrt, iffs, decision, exitCode;
};

std::string Flag(const nlohmann::json& value) {
  return value.is_boolean() ? (value.get<bool>() ? "on" : "off") : "-";
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// The profile an input names, and its disks' models as WMI lists them; the error when it is bad.
std::string Models(const std::filesystem::path& profile, std::string* error) {
  try {
    std::string models;
    for (const Disk& disk : LoadProfile(profile).disks) {
      const std::string model = WmiText(disk, L"Model");
      models += (models.empty() ? "" : " + ") + (model.empty() ? std::string("?") : model);
    }
    return models;
  } catch (const ProfileError& e) {
    *error = e.what();
    return std::string();
  }
}

pid_t Start(const std::string& self, const std::filesystem::path& profile,
            const std::filesystem::path& runDir) {
  const std::string machine = profile.string(), out = runDir.string();
  const char* argv[] = {self.c_str(), "--machine", machine.c_str(), "--out",
                        out.c_str(),  "--quiet",   nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

int RunSummary(const std::string& self, const std::vector<std::string>& inputs,
               const std::filesystem::path& outDir, std::ostream& out) {
  std::vector<Row> rows(inputs.size());
  std::vector<std::filesystem::path> profiles(inputs.size());
  std::vector<pid_t> running(inputs.size(), -1);
  int failed = 0;
  std::error_code ec;
  const unsigned slots = std::max(1u, std::thread::hardware_concurrency());
  std::size_t next = 0, active = 0, done = 0;
  auto finish = [&](std::size_t i, int status) {
    Row& row = rows[i];
    const std::filesystem::path runDir = outDir / kSummaryRunsFolder / std::to_string(i);
    const std::optional<std::string> text = ReadHostFile(runDir / kResultFile);
    const nlohmann::json result =
        text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
    if (!result.is_object()) {
      row.decision =
          "did not run (exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
      ++failed;
    } else {
      const nlohmann::json& gate = result["gate"];
      row.fixedDisks = gate["fixed_disks"].is_number() ? gate["fixed_disks"].dump() : "-";
      row.raid0 = Flag(gate["RAID0"]);
      row.isrt = Flag(gate["ISRT"]);
      row.iffs = Flag(gate["IFFS"]);
      row.decision = result["decision"].get<std::string>();
      row.exitCode = result["exit_code"].dump();
    }
    std::filesystem::remove_all(runDir, ec);
  };
  while (done < inputs.size()) {
    while (next < inputs.size() && active < slots) {
      const std::size_t i = next++;
      rows[i].input = inputs[i];
      profiles[i] = std::filesystem::is_directory(inputs[i], ec)
                        ? std::filesystem::path(inputs[i]) / "machine.json"
                        : std::filesystem::path(inputs[i]);
      std::string error;
      rows[i].models = Models(profiles[i], &error);
      if (!error.empty()) {
        rows[i].decision = "bad profile: " + error;
        ++failed;
        ++done;
        continue;
      }
      running[i] = Start(self, std::filesystem::absolute(profiles[i], ec),
                         outDir / kSummaryRunsFolder / std::to_string(i));
      if (running[i] < 0) {
        rows[i].decision = "could not start " + self;
        ++failed;
        ++done;
        continue;
      }
      ++active;
    }
    if (active == 0) continue;
    int status = 0;
    const pid_t ended = ::waitpid(-1, &status, 0);
    if (ended < 0) break;
    for (std::size_t i = 0; i < running.size(); ++i) {
      if (running[i] != ended) continue;
      running[i] = -1;
      finish(i, status);
      --active;
      ++done;
    }
  }
  std::filesystem::remove_all(outDir / kSummaryRunsFolder, ec);

  std::ofstream csv(outDir / kSummaryFile, std::ios::binary);
  csv << "input,models,fixed_disks,RAID0,ISRT,IFFS,decision,exit_code\n";
  for (const Row& r : rows) {
    // The terminal's line shows a model's control characters; summary.csv keeps them as they are.
    if (r.exitCode.empty()) {
      out << Printable(r.input + ": " + r.decision) << "\n";
    } else {
      out << Printable(r.input + ": " + r.models) << "; gate: " << r.fixedDisks
          << " fixed disks, RAID0 " << r.raid0 << ", ISRT " << r.isrt << " (IFFS " << r.iffs
          << "); " << Printable(r.decision) << "; exit " << r.exitCode << "\n";
    }
    csv << Csv(r.input) << "," << Csv(r.models) << "," << r.fixedDisks << "," << r.raid0 << ","
        << r.isrt << "," << r.iffs << "," << Csv(r.decision) << "," << r.exitCode << "\n";
  }
  out << inputs.size() << " notebooks, " << failed << " could not run; "
      << (outDir / kSummaryFile).string() << "\n";
  return failed == 0 && csv.flush() ? 0 : 1;
}
#endif

}  // namespace sim
