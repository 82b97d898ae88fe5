// Machine profiles: what a person may write, and the messages for what is wrong.
#include "sim/profile/profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "sim/devices/physical_drive.h"
#include "sim/disks/partition_table.h"
#include "tests/support/sim_fixture.h"

using testing::HasSubstr;

namespace {

std::string ErrorOf(const std::string& json) {
  try {
    sim::ParseProfile(json, "bad.json", ".");
  } catch (const sim::ProfileError& e) {
    return e.what();
  }
  return "<accepted>";
}

struct BadCase {
  std::string json;
  const char* message;  // a part of the message that names the key at fault
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.json; }

class BadProfile : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadProfile, IsRejectedNamingTheFileAndTheKey) {
  const std::string error = ErrorOf(GetParam().json);
  EXPECT_THAT(error, HasSubstr("bad.json"));
  EXPECT_THAT(error, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadProfile,
    ::testing::Values(
        BadCase{"{ \"windows\": { \"bits\": 16 } }", "windows.bits"},
        BadCase{"{ \"windows\": { \"bits\": \"64\" } }", "windows.bits"},
        BadCase{"{ \"windows\": { \"colour\": 1 } }", "windows.colour': unknown key"},
        BadCase{"{ \"memroy_kb\": 1 }", "memroy_kb': unknown key"},
        BadCase{"{ \"memory_kb\": -5 }", "memory_kb"},
        BadCase{"{ \"memory_kb\": 1.5 }", "memory_kb"},
        BadCase{"{ \"clock\": \"yesterday\" }", "clock"},
        BadCase{"{ \"firmware\": { \"IFFS\": 1 } }", "firmware.IFFS"},
        BadCase{"{ \"firmware\": { \"TURBO\": true } }", "firmware.TURBO"},
        BadCase{"{ \"installer\": \"yes\" }", "installer"}, BadCase{"{ \"disks\": {} }", "disks"},
        BadCase{"{ \"disks\": [ { \"rotation\": \"fast\" } ] }", "disks[0].rotation"},
        BadCase{"{ \"disks\": [ {}, { \"wmi\": { \"Index\": \"one\" } } ] }", "disks[1].wmi.Index"},
        BadCase{"{ \"disks\": [ { \"wmi\": { \"MediaLoaded\": 1 } } ] }",
                "disks[0].wmi.MediaLoaded"},
        BadCase{"{ \"disks\": [ { \"size_mb\": 10, \"partitions\": [ { \"fs\": \"ext4\", "
                "\"size_mb\": 1 } ] } ] }",
                "disks[0].partitions[0].fs"},
        BadCase{"{ \"disks\": [ { \"size_mb\": 10, \"partitions\": [ { \"size_mb\": 100 } ] } ] }",
                "disks[0].partitions"},
        BadCase{"{ \"disks\": [ { \"rst\": { \"id\": 5 } } ] }", "disks[0].rst.id"},
        BadCase{"{ \"faults\": [ 3 ] }", "faults[0]"}, BadCase{"{ \"disks\": [ ", "invalid JSON"},
        BadCase{"{ \"faults\": [ \"PowerCut:0\" ] }", "faults[0]': must be PowerCut:N"},
        BadCase{"{ \"storage_config\": { \"cache_device\": \"0-1-0-0\" } }",
                "storage_config.cache_device': must be the rst id"},
        BadCase{"{ \"disks\": [ { \"rst\": { \"id\": \"A\" } }, { \"rst\": { \"id\": \"B\" } } ],"
                " \"storage_config\": { \"cache_device\": \"A\", \"accelerated_disk\": \"B\" } }",
                "storage_config.mode"},
        BadCase{"{ \"temp_files\": { \"..\\\\x.txt\": \"x.txt\" } }",
                "temp_files...\\x.txt': must be a plain file name"},
        BadCase{"{ \"temp_files\": { \"x.txt\": \"no-such-file.txt\" } }",
                "temp_files.x.txt': cannot read"},
        BadCase{"{ \"disks\": [ { \"size_mb\": 10, \"partitions\": [ { \"size_mb\": 1, "
                "\"type\": \"0x07\" } ] } ] }",
                "disks[0].partitions[0].type': must be a GPT partition type GUID"},
        BadCase{"{ \"disks\": [ { \"size_mb\": 10, \"style\": \"mbr\", \"partitions\": [ "
                "{ \"size_mb\": 1, \"type\": \"0x0F\" } ] } ] }",
                "disks[0].partitions[0].type': must be an MBR partition type byte"},
        BadCase{"{ \"disks\": [ { \"role\": \"data-volume\" } ] }",
                "disks[0].role': a data volume needs a cache with a cache_size"},
        BadCase{"{ \"disks\": [ { \"role\": \"cache\" } ] }", "disks[0].role': must be"},
        BadCase{"{ \"disks\": [ { \"rst\": { \"id\": \"A\" } } ],"
                " \"storage_config\": { \"cache_device\": \"A\", \"volume_number\": -1 } }",
                "storage_config.volume_number"},
        BadCase{"{ \"storage_config\": { \"refuse_system_disk\": 1 } }",
                "storage_config.refuse_system_disk': must be true or false"},
        BadCase{"[]", "must be an object"},
        // Folders that would lead the run's files out of its folder, refused before it starts.
        BadCase{R"({ "windows": { "windows_dir": "C:\\..\\..\\ESCAPED" } })",
                "windows.windows_dir': must be a folder on the Windows folder's drive that the "
                "simulated notebook holds, below its root: a '..' component leads upwards"},
        BadCase{R"({ "windows": { "system_dir": "C:\\Windows\\..\\..\\x" } })",
                "windows.system_dir': must be a folder on the Windows folder's drive"},
        BadCase{R"({ "windows": { "system_dir": "D:\\Windows\\system32" } })",
                "windows.system_dir': must be a folder on the Windows folder's drive that the "
                "simulated notebook holds, below its root: it is on drive D:, not on the system "
                "drive C:"},
        BadCase{R"({ "windows": { "windows_dir": "C:\\Windows\\nul.txt" } })",
                "windows.windows_dir': must be a folder on the Windows folder's drive that the "
                "simulated notebook holds, below its root: 'nul.txt' is a device name"},
        BadCase{R"({ "windows": { "windows_dir": "C:\\Win|dows" } })",
                "'Win|dows' holds a character Windows does not allow in a name"},
        BadCase{R"({ "windows": { "windows_dir": "\\\\?\\C:\\Windows" } })",
                "windows.windows_dir': must be an absolute path"},
        BadCase{R"({ "temp_files": { "COM1": "x.txt" } })",
                "temp_files.COM1': is a device name, not a file name"},
        // Times the calendar does not have.
        BadCase{R"({ "clock": "2013-02-30 09:00:00" })",
                "clock': '2013-02-30 09:00:00' is no time of the calendar"},
        BadCase{R"({ "clock": "2100-02-29 09:00:00" })", "clock': '2100-02-29 09:00:00' is no"},
        BadCase{R"({ "clock": "2013-13-01 09:00:00" })", "clock': '2013-13-01 09:00:00' is no"},
        BadCase{R"({ "clock": "2013-06-03 24:00:00" })", "clock': '2013-06-03 24:00:00' is no"},
        BadCase{R"({ "clock": "2013-6-3 09:00:00" })", "clock': must be a time 'YYYY-MM-DD"},
        // Numbers and letters Windows gives once.
        BadCase{R"({ "disks": [ { "wmi": { "Index": 0 } }, { "wmi": { "Index": 0 } } ] })",
                "disks[1].wmi.Index': Index 0 is also disks[0]'s"},
        BadCase{R"({ "disks": [ { "drive": 3 }, { "drive": 3 } ] })",
                "disks[1].drive': physical drive 3 is also disks[0]'s"},
        BadCase{
            R"({ "disks": [ { "wmi": { "Index": 0 }, "drive": 1 }, { "wmi": { "Index": 1 } } ] })",
            "disks[1].drive': physical drive 1 is also disks[0]'s"},
        BadCase{R"({ "disks": [ { "size_mb": 8, "partitions": [ { "size_mb": 1, "letter": "E" } ] },
                                { "letters": { "E": 1 } } ] })",
                "disks[1].letters.E': drive letter E: is also given by "
                "disks[0].partitions[0].letter"},
        BadCase{R"({ "disks": [ { "size_mb": 8, "partitions": [ { "size_mb": 1, "letter": "E" },
                                                               { "size_mb": 1, "letter": "E" } ] } ] })",
                "disks[0].partitions[1].letter': drive letter E: is also given by "
                "disks[0].partitions[0].letter"},
        // Layouts the partition tables and file systems cannot hold.
        BadCase{R"({ "disks": [ { "size_mb": 1000, "partitions": [)" +
                    [] {
                      std::string parts;
                      for (int i = 0; i < 129; ++i) parts += "{ \"size_mb\": 1 },";
                      return parts.substr(0, parts.size() - 1);
                    }() +
                    "] } ] }",
                "disks[0].partitions': at most 128"},
        BadCase{R"({ "disks": [ { "size_mb": 3000000, "partitions": [
                     { "size_mb": 2097152, "fs": "fat32" } ] } ] })",
                "disks[0].partitions[0].size_mb': a FAT32 volume must stay below 2 TiB"},
        BadCase{R"({ "disks": [ { "size_mb": 3000000, "style": "mbr", "partitions": [
                     { "size_mb": 1048576 }, { "size_mb": 1048576 } ] } ] })",
                "disks[0].partitions': reach past 2 TiB, which an MBR table cannot address"},
        // Numbers and dates a run could not keep.
        BadCase{std::string(200, '[') + std::string(200, ']'), "nested deeper than 64 levels"},
        BadCase{R"({ "disks": [ { "wmi": { "Index": -1 } } ] })",
                "disks[0].wmi.Index': is -1, not a drive number 0-1000"},
        BadCase{R"({ "disks": [ { "wmi": { "Index": 0 } }, { "wmi": { "Index": 1 } } ],
                     "storage_config": { "volume_number": 0 } })",
                "storage_config.volume_number': 0 is disks[0]'s number"},
        BadCase{R"({ "disks": [ { "size_mb": 100, "rst": { "id": "A" } } ],
                     "storage_config": { "cache_device": "A", "cache_size": "0.1" } })",
                "storage_config.cache_size': 0.1 GB is more than disks[0], the cache's device"},
        BadCase{R"({ "clock": "9999-12-31 23:59:59" })", "clock': '9999-12-31 23:59:59' is no"},
        // A key given twice, which JSON readers settle differently.
        BadCase{R"({ "memory_kb": 1, "memory_kb": 2 })", "key 'memory_kb': is given twice"},
        BadCase{R"({ "disks": [ {}, { "wmi": { "Index": 1, "Model": "A", "Index": 2 } } ] })",
                "key 'disks[1].wmi.Index': is given twice"},
        BadCase{
            R"({ "faults": [], "disks": [ { "rst": { "id": "A" } }, { "rst": { "id": "B", "id": "A" } } ] })",
            "key 'disks[1].rst.id': is given twice"},
        // Numbers: any form of a whole number is one, a fraction or a number out of range is not.
        BadCase{R"({ "memory_kb": 1.5e0 })", "memory_kb': must be a whole number"},
        BadCase{R"({ "memory_kb": 1e16 })", "memory_kb': must lie between 0 and 4503599627370496"},
        BadCase{R"({ "disks": [ { "size_mb": 0.5e1, "partitions": [ { "size_mb": 2.5 } ] } ] })",
                "disks[0].partitions[0].size_mb': must be a whole number"}));

TEST(Profile, WholeNumbersMayBeWrittenInAnyFormJsonAllows) {
  for (const char* n : {"1000", "1e3", "1000.0", "1.0E3", "10000e-1"}) {
    SCOPED_TRACE(n);
    const sim::Profile p = sim::ParseProfile(
        std::string(R"({ "memory_kb": )") + n + R"(, "disks": [ { "wmi": { "Size": )" + n +
            R"(, "Index": )" + n + R"( }, "rotation": )" + n + " } ] }",
        "n.json", ".");
    EXPECT_EQ(p.memory_kb, 1000u);
    ASSERT_EQ(p.disks.size(), 1u);
    EXPECT_EQ(p.disks[0].rotation.rate, 1000);
    EXPECT_EQ(p.disks[0].drive, 1000);
    ASSERT_EQ(p.disks[0].wmi.size(), 2u);
    EXPECT_EQ(p.disks[0].wmi[1].name, L"Size");
    EXPECT_EQ(p.disks[0].wmi[1].value.text, L"1000");  // the number's decimal text
  }
}

TEST(Profile, ALeapDayAndTheLastSecondOfAYearAreTimes) {
  EXPECT_EQ(sim::ParseProfile(R"({ "clock": "2012-02-29 23:59:59" })", "c.json", ".").clock.day,
            29);
  EXPECT_EQ(sim::ParseProfile(R"({ "clock": "2000-12-31 23:59:59" })", "c.json", ".").clock.second,
            59);
}

TEST(Profile, NumberBeyondTheRangeOfADoubleIsABadProfileNotACrash) {
  // 400 digits: the JSON reader reports an overflow, not a syntax error.
  const std::string json = "{ \"memory_kb\": " + std::string(400, '8') + " }";
  const std::string error = ErrorOf(json);
  EXPECT_THAT(error, HasSubstr("bad.json: invalid JSON"));
}

TEST(Profile, DefaultsWhenKeysAreAbsent) {
  const sim::Profile p = sim::ParseProfile("{}", "empty.json", ".");
  EXPECT_EQ(p.windows_bits, 64);
  EXPECT_EQ(p.windows_dir, L"C:\\Windows");
  EXPECT_EQ(p.system_dir, L"C:\\Windows\\system32");
  EXPECT_TRUE(p.temp_folder);
  EXPECT_EQ(p.clock.year, 2013);
  EXPECT_EQ(p.clock.month, 6);
  EXPECT_EQ(p.clock.day, 3);
  EXPECT_EQ(p.clock.hour, 9);
  ASSERT_TRUE(p.memory_kb.has_value());
  EXPECT_EQ(*p.memory_kb, 8388608u);
  ASSERT_TRUE(p.firmware.has_value());
  EXPECT_FALSE(p.firmware->IFFS || p.firmware->RAID0 || p.firmware->ISRT || p.firmware->Diskeeper);
  EXPECT_FALSE(p.installer);
  EXPECT_TRUE(p.storage_tool);
  EXPECT_THAT(p.disks, testing::IsEmpty());
  EXPECT_THAT(p.faults, testing::IsEmpty());
}

TEST(Profile, NullsMeanAbsentDevicesAndFailingQueries) {
  const sim::Profile p = sim::ParseProfile(
      R"({ "memory_kb": null, "firmware": null, "disks": [ { "drive": null, "wmi": { "Index": 3 } } ] })",
      "n.json", ".");
  EXPECT_EQ(p.memory_kb, std::nullopt);
  EXPECT_EQ(p.firmware, std::nullopt);
  ASSERT_EQ(p.disks.size(), 1u);
  EXPECT_EQ(p.disks[0].drive, std::nullopt);
}

TEST(Profile, WmiPropertiesAreTypedAsWmiTypesThem) {
  const sim::Profile p = sim::ParseProfile(
      R"({ "disks": [ { "wmi": { "Index": 4294967295, "MediaLoaded": true, "Size": 500107862016,
                                  "Model": "X", "SerialNumber": null }, "drive": null },
                      { "wmi": { "Index": 7 } } ] })",
      "w.json", ".");
  ASSERT_EQ(p.disks.size(), 2u);
  auto value = [&](const wchar_t* name) {
    for (const sim::WmiProperty& prop : p.disks[0].wmi) {
      if (prop.name == name) return prop.value;
    }
    ADD_FAILURE() << "no property " << ::testing::PrintToString(std::wstring(name));
    return os::WmiValue{};
  };
  ASSERT_EQ(p.disks[0].wmi.size(), 5u);
  EXPECT_EQ(value(L"Index").kind, os::WmiValue::Kind::Int32);
  EXPECT_EQ(value(L"Index").i32, -1);  // uint32 travels as VT_I4
  EXPECT_EQ(value(L"MediaLoaded").kind, os::WmiValue::Kind::Bool);
  EXPECT_TRUE(value(L"MediaLoaded").boolean);
  EXPECT_EQ(value(L"Size").kind, os::WmiValue::Kind::Text);
  EXPECT_EQ(value(L"Size").text, L"500107862016");
  EXPECT_EQ(value(L"Model").text, L"X");
  EXPECT_EQ(value(L"SerialNumber").kind, os::WmiValue::Kind::Null);
  // The drive number follows Index when not given (an Index no drive can have needs "drive").
  EXPECT_FALSE(p.disks[0].drive.has_value()) << *p.disks[0].drive;
  ASSERT_TRUE(p.disks[1].drive.has_value());
  EXPECT_EQ(*p.disks[1].drive, 7);
}

TEST(Profile, ACacheHidesItsDeviceAndTheDataVolumeTakesItsNumber) {
  // A hard disk with a Windows recovery partition by MBR type, the cache's SSD, and the data
  // volume: Windows sees drives 0 and 1, the latter the volume; the tool lists both devices.
  const sim::Profile p = sim::ParseProfile(R"({
    "disks": [
      { "wmi": { "Index": 0 }, "size_mb": 64, "style": "mbr",
        "partitions": [ { "label": "Recovery", "size_mb": 8, "type": "0x27" } ],
        "rst": { "id": "A", "system_disk": "True" } },
      { "wmi": { "Index": 1 }, "rotation": 1, "size_mb": 64, "rst": { "id": "B" } },
      { "role": "data-volume", "wmi": { "Index": 1 }, "size_mb": 16 }
    ],
    "storage_config": { "cache_device": "B", "cache_size": "0.05" } })",
                                           "p.json", ".");
  ASSERT_EQ(p.disks.size(), 3u);
  EXPECT_EQ(p.disks[1].role, sim::DiskRole::kCacheDevice);
  EXPECT_EQ(p.disks[2].role, sim::DiskRole::kDataVolume);
  testing_support::SimMachine m(p);
  EXPECT_EQ(sim::FindDriveDisk(*m, 1), 2);
  EXPECT_EQ(sim::ListPartitions(*m, 0).at(0).type, "0x27");
}

TEST(Profile, DefaultNotebookParses) {
  const sim::Profile p = sim::DefaultProfile();
  EXPECT_EQ(p.windows_bits, 64);
  ASSERT_TRUE(p.firmware.has_value());
  EXPECT_TRUE(p.firmware->IFFS);
  EXPECT_FALSE(p.firmware->RAID0);
  EXPECT_TRUE(p.firmware->ISRT);
  EXPECT_TRUE(p.installer);
  ASSERT_EQ(p.disks.size(), 2u);
  EXPECT_EQ(p.disks[1].rotation.rate, 1);
}

}  // namespace
