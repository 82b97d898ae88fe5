// The files a profile names are checked before anything runs: a wrong one is refused naming the
// profile, the key and the file, never taken as a blank disk, an empty report or a read that
// does not end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/profile/profile.h"
#include "tests/support/sim_fixture.h"

using testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

struct FileCase {
  const char* name;
  const char* json;  // the profile, beside the files the fixture makes
  const char* key;
  const char* says;  // a part of the message after the key
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

// A folder with a profile's companions: a disk image, one too small to be a disk, a folder, a
// storage report and one far larger than any report.
class ProfileFiles : public ::testing::TestWithParam<FileCase> {
 protected:
  ProfileFiles() {
    fs::resize_file(Make("disk.img"), 1 << 20);
    std::ofstream(Make("tiny.img")) << std::string(100, 'x');
    fs::create_directory(dir_.path() / "folder");
    std::ofstream(Make("report.txt")) << "Model: X\n";
    fs::resize_file(Make("huge.txt"), 17 << 20);
    fs::resize_file(Make("huger.txt"), 65 << 20);
  }
  fs::path Make(const char* name) {
    std::ofstream(dir_.path() / name, std::ios::binary);
    return dir_.path() / name;
  }
  // The loader's message for `json`, written as the profile p.json in the folder.
  std::string Refusal(const std::string& json) {
    std::ofstream(dir_.path() / "p.json") << json;
    try {
      sim::LoadProfile(dir_.path() / "p.json");
    } catch (const sim::ProfileError& e) {
      return e.what();
    }
    return "<accepted>";
  }
  testing_support::TempDir dir_;
};

TEST_P(ProfileFiles, AreRefusedNamingTheProfileTheKeyAndTheFile) {
  const std::string error = Refusal(GetParam().json);
  EXPECT_THAT(error, HasSubstr((dir_.path() / "p.json").string() + ": key '" + GetParam().key +
                               "': cannot read "));
  EXPECT_THAT(error, HasSubstr(GetParam().says));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileFiles,
    ::testing::Values(
        FileCase{"missing_image",
                 R"({ "disks": [ { "image": "disk.img" }, { "image": "gone.img" } ] })",
                 "disks[1].image", "gone.img: it does not exist"},
        FileCase{"image_folder", R"({ "disks": [ { "image": "folder" } ] })", "disks[0].image",
                 "folder: it is a folder, not a file"},
        FileCase{"image_under_a_sector", R"({ "disks": [ { "image": "tiny.img" } ] })",
                 "disks[0].image", "tiny.img: it holds 100 bytes, less than the 512 it needs"},
        FileCase{"missing_report", R"({ "storage_report": "gone.txt" })", "storage_report",
                 "gone.txt: it does not exist"},
        FileCase{"report_folder", R"({ "storage_report": "folder" })", "storage_report",
                 "folder: it is a folder"},
        FileCase{"huge_report", R"({ "storage_report": "huge.txt" })", "storage_report",
                 "huge.txt: it holds 17825792 bytes, more than the 16777216 it may"},
        FileCase{"huge_temp_file", R"({ "temp_files": { "TempProc.log": "huger.txt" } })",
                 "temp_files.TempProc.log", "more than the 67108864 it may"},
        FileCase {
          "pieces_folder",
              R"({ "disks": [ { "captured": { "bytes": 1048576, "pieces": "folder",
                                                 "layout": null } } ] })",
              "disks[0].captured.pieces", "folder: it is a folder"
        }
#ifndef _WIN32
        // A device reads without end: the report would grow until the memory is gone.
        ,
        FileCase{"report_device", R"({ "storage_report": "/dev/zero" })", "storage_report",
                 "/dev/zero: it is not a regular file"},
        FileCase{"image_device", R"({ "disks": [ { "image": "/dev/zero" } ] })", "disks[0].image",
                 "/dev/zero: it is not a regular file"},
        FileCase{"temp_file_device", R"({ "temp_files": { "x.log": "/dev/zero" } })",
                 "temp_files.x.log", "/dev/zero: it is not a regular file"}
#endif
        ));

TEST_F(ProfileFiles, GoodCompanionsAreAccepted) {
  EXPECT_EQ(Refusal(R"({ "storage_report": "report.txt", "disks": [ { "image": "disk.img" } ],
                         "temp_files": { "TempProc.log": "report.txt" } })"),
            "<accepted>");
}

TEST_F(ProfileFiles, TheProfileItselfMustBeARegularFileOfBoundedSize) {
  std::vector<std::pair<fs::path, const char*>> cases = {
      {dir_.path() / "gone.json", "it does not exist"},
      {dir_.path() / "folder", "it is a folder"},
      {dir_.path() / "huge.txt", "more than the 16777216 it may"}};
#ifndef _WIN32
  cases.emplace_back("/dev/zero", "it is not a regular file");
#endif
  for (const auto& [path, says] : cases) {
    try {
      sim::LoadProfile(path);
      ADD_FAILURE() << path << " accepted";
    } catch (const sim::ProfileError& e) {
      EXPECT_THAT(e.what(), HasSubstr(path.string() + ": cannot read " + path.string() + ": "));
      EXPECT_THAT(e.what(), HasSubstr(says));
    }
  }
}

}  // namespace
