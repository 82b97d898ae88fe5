#include "textout/log_writer.h"

#include <gtest/gtest.h>

#include "sim/core/text.h"
#include "tests/support/sim_fixture.h"

using testing_support::FileBytes;
using testing_support::SimMachine;

namespace {

sim::Profile AtTime(int y, int mo, int d, int h, int mi, int s) {
  sim::Profile p;
  p.clock = os::LocalTime{y, mo, d, h, mi, s};
  return p;
}

const std::wstring kLog = L"C:\\Windows\\Temp\\TempProc.log";

TEST(LogWriter, StampIsZeroPaddedAndLineEndsInCrLf) {
  SimMachine m(AtTime(987, 1, 2, 3, 4, 5));
  LogWriter log;
  log.Open(kLog);
  log.WriteStamped(L"End process...");
  EXPECT_EQ(FileBytes(*m, kLog), "[0987/01/02 03:04:05]\tEnd process...\r\n");
}

TEST(LogWriter, StampFollowsTheVirtualClockOnTheTwentyFourHourClock) {
  SimMachine m(AtTime(2013, 12, 31, 23, 59, 58));
  LogWriter log;
  log.Open(kLog);
  log.WriteStamped(L"a");
  m->Advance(2000);
  log.WriteStamped(L"b");
  EXPECT_EQ(FileBytes(*m, kLog),
            "[2013/12/31 23:59:58]\ta\r\n"
            "[2014/01/01 00:00:00]\tb\r\n");
}

TEST(LogWriter, PlainLinesNullTextAndPercentSigns) {
  SimMachine m;
  LogWriter script;
  script.Open(L"C:\\Windows\\Temp\\TScriptClean2ndHDD.txt");
  script.WriteLine(L"sel disk 1");
  script.WriteLine(nullptr);
  script.WriteLine(L"100% %s %d %ls");
  EXPECT_EQ(FileBytes(*m, L"C:\\Windows\\Temp\\TScriptClean2ndHDD.txt"),
            "sel disk 1\r\n\r\n100% %s %d %ls\r\n");
}

TEST(LogWriter, OpenEmptiesAnExistingFile) {
  SimMachine m;
  ASSERT_TRUE(m->WriteFile(kLog, "old run\r\n", false)) << sim::ToUtf8(kLog);
  LogWriter log;
  log.Open(kLog);
  EXPECT_EQ(FileBytes(*m, kLog), "");
  log.WriteLine(L"new");
  EXPECT_EQ(FileBytes(*m, kLog), "new\r\n");
}

TEST(LogWriter, FileDeletedBetweenLinesComesBackWithOnlyLaterLines) {
  SimMachine m;
  LogWriter log;
  log.Open(kLog);
  log.WriteLine(L"first");
  std::filesystem::remove(m->HostPath(kLog).value());
  log.WriteLine(L"second");
  EXPECT_EQ(FileBytes(*m, kLog), "second\r\n");
}

TEST(LogWriter, MissingFolderIsToleratedAndCreatesNothing) {
  sim::Profile p;
  p.temp_folder = false;
  SimMachine m(p);
  LogWriter log;
  log.Open(kLog);
  log.WriteStamped(L"x");
  log.WriteLine(L"y");
  EXPECT_FALSE(std::filesystem::exists(m->HostPath(L"C:\\Windows\\Temp").value()))
      << m->HostPath(L"C:\\Windows\\Temp").value();
  EXPECT_EQ(FileBytes(*m, kLog), "<missing>");
}

struct EncodeCase {
  const wchar_t* text;
  std::string bytes;
};

class LogWriterEncoding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(LogWriterEncoding, OneBytePerCharacterAndQuestionMarkAboveLatin1) {
  SimMachine m;
  LogWriter log;
  log.Open(kLog);
  log.WriteLine(GetParam().text);
  log.WriteLine(L"next");
  EXPECT_EQ(FileBytes(*m, kLog), GetParam().bytes + "\r\nnext\r\n");
}

INSTANTIATE_TEST_SUITE_P(Bytes, LogWriterEncoding,
                         ::testing::Values(EncodeCase{L"plain", "plain"},
                                           EncodeCase{L"caf\u00e9 \u00ff\u0080",
                                                      "caf\xe9 \xff\x80"},
                                           EncodeCase{L"a\u0100b", "a?b"},
                                           EncodeCase{L"\u20ac100 \u4e2d\u6587 end", "?100 ?? end"},
                                           EncodeCase{L"emoji \U0001F600!", "emoji ?!"},
                                           EncodeCase{L"tab\there", "tab\there"},
                                           EncodeCase{L"two\nlines", "two\r\nlines"}));

TEST(LogWriter, NoByteOrderMarkAndLongLinesAreWrittenWhole) {
  SimMachine m;
  LogWriter log;
  log.Open(kLog);
  const std::wstring longText(5000, L'x');
  log.WriteLine(longText);
  const std::string bytes = FileBytes(*m, kLog);
  ASSERT_EQ(bytes.size(), 5002u);
  EXPECT_EQ(bytes.substr(0, 3), "xxx");
  EXPECT_EQ(bytes.substr(5000), "\r\n");
}

TEST(LogWriter, EachLineIsOnDiskWhenTheCallReturnsAndNoHandleStaysOpen) {
  SimMachine m;
  LogWriter log;
  log.Open(kLog);
  EXPECT_EQ(m->open_handles(), 0u);
  log.WriteLine(L"sel disk 1");
  EXPECT_EQ(FileBytes(*m, kLog), "sel disk 1\r\n");
  EXPECT_EQ(m->open_handles(), 0u);
}

}  // namespace
