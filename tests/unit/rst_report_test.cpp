#include "tools/rst_report.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "tests/support/records.h"
#include "tests/support/rst_report_text.h"

namespace {

using testing_support::Ascii;
using testing_support::Block;
using testing_support::Blocked;
using testing_support::kMarker;
using testing_support::L_;
using testing_support::Rec;
using testing_support::Show;

struct ParserCase {
  const char* name;
  std::wstring report;
  RstDeviceList expected;
};

std::vector<ParserCase> ParserCases() {
  return {
      {"no marker gives no records", Block(L"0-0-0-0", L"465.76 GB", L"HDD"), {}},
      {"blocks before the marker are ignored even when complete",
       Block(L"9-9-9-9", L"7 GB", L"Early") + kMarker + Block(L"0-1-0-0", L"29.82 GB", L"SSD"),
       {Blocked(L"0-1-0-0", 29, L"SSD")}},
      {"marker text inside a longer line opens the section; later markers close nothing",
       L"x --END DEVICE INFORMATION-- x\n" + Block(L"a", L"1 GB", L"A") + kMarker +
           Block(L"b", L"2 GB", L"B"),
       {Blocked(L"a", 1, L"A"), Blocked(L"b", 2, L"B")}},
      {"a second ID line replaces the id and the block gives one record",
       kMarker + L_(L"ID:", L"first") + Block(L"second", L"5 GB", L"M"),
       {Blocked(L"second", 5, L"M")}},
      {"fields left out of a later block keep the earlier block's values",
       kMarker + Block(L"a", L"465.76 GB", L"HDD") + L_(L"ID:", L"b") + L_(L"Model:", L"SSD"),
       {Blocked(L"a", 465, L"HDD"),
        Rec(L"b", L"Disk", L"SATA", L"Normal", 465, 0, 0, L"Available", L"SN-a", L"SSD")}},
      {"key lines after Model and before the next ID change nothing",
       kMarker + Block(L"a", L"10 GB", L"A") + L_(L"Size:", L"999 GB") +
           L_(L"Serial Number:", L"stray") + L_(L"Model:", L"stray") + L_(L"ID:", L"b") +
           L_(L"Model:", L"B"),
       {Blocked(L"a", 10, L"A"),
        Rec(L"b", L"Disk", L"SATA", L"Normal", 10, 0, 0, L"Available", L"SN-a", L"B")}},
      {"a block cut off before Model adds nothing",
       kMarker + Block(L"a", L"10 GB", L"A") + L_(L"ID:", L"b") + L_(L"Size:", L"20 GB"),
       {Blocked(L"a", 10, L"A")}},
      {"numeric fields never set are 0 and strings empty",
       kMarker + L_(L"ID:", L"x") + L_(L"Model:", L"m"),
       {Rec(L"x", L"", L"", L"", 0, 0, 0, L"", L"", L"m")}},
      {"Free Size does not set Size, Disk Type does not set Type",
       kMarker + L_(L"ID:", L"x") + L_(L"Free Size:", L"12.5 GB") + L_(L"Disk Type:", L"SATA") +
           L_(L"Model:", L"m"),
       {Rec(L"x", L"", L"SATA", L"", 0, 12, 0, L"", L"", L"m")}},
      {"a key anywhere in the line counts; the value still starts at index 19",
       kMarker + L"  ID: 0-0-0-0      dev\n" + L"Serial Number: xy  1234\n" + L"Model:\n",
       {Rec(L"dev", L"", L"", L"", 0, 0, 0, L"", L"1234", L"")}},
      {"text values keep blanks on both sides",
       kMarker + L_(L"ID:", L" 0-0-0-0   ") + L_(L"Usage:", L"Array member ") +
           L_(L"Model:", L"  m  "),
       {Rec(L" 0-0-0-0   ", L"", L"", L"", 0, 0, 0, L"Array member ", L"", L"  m  ")}},
      {"a 19-character key line gives an empty text and 0",
       kMarker + L"ID:                \n" + L_(L"Size:", L"5 GB") + L"Size:              \n" +
           L"Model:             \n",
       {Rec(L"", L"", L"", L"", 0, 0, 0, L"", L"", L"")}},
      {"a shorter key line gives an empty text and 0 without reading past it",
       kMarker + L_(L"ID:", L"x") + L_(L"Size:", L"5 GB") + L"Size:\nState:\nID:\nModel:",
       {Rec(L"", L"", L"", L"", 0, 0, 0, L"", L"", L"")}},
      {"a last line without LF is still read",
       kMarker + L_(L"ID:", L"x") + L"Model:             m",
       {Rec(L"x", L"", L"", L"", 0, 0, 0, L"", L"", L"m")}},
      {"three blocks append three records whatever their types and states",
       kMarker + Block(L"a", L"1 GB", L"A") + L_(L"ID:", L"b") + L_(L"Type:", L"Volume") +
           L_(L"State:", L"Failed") + L_(L"Usage:", L"Unknown") + L_(L"System Disk:", L"True") +
           L_(L"Model:", L"B") + L_(L"ID:", L"c") + L_(L"Model:", L"C"),
       {Blocked(L"a", 1, L"A"),
        Rec(L"b", L"Volume", L"SATA", L"Failed", 1, 0, 1, L"Unknown", L"SN-a", L"B"),
        Rec(L"c", L"Volume", L"SATA", L"Failed", 1, 0, 1, L"Unknown", L"SN-a", L"C")}},
  };
}

TEST(RstReportParser, ReportsFromTheTable) {
  for (const ParserCase& c : ParserCases()) {
    SCOPED_TRACE(c.name);
    RstDeviceList fromText;
    ParseRstReportText(c.report, fromText);
    EXPECT_EQ(Show(fromText), Show(c.expected));
    // The same report as file bytes, with LF and with CR LF line ends.
    RstDeviceList fromBytes;
    ParseRstReportBytes(Ascii(c.report), fromBytes);
    EXPECT_EQ(Show(fromBytes), Show(c.expected));
    std::string crlf;
    for (char ch : Ascii(c.report)) {
      if (ch == '\n') crlf += '\r';
      crlf += ch;
    }
    RstDeviceList fromCrLf;
    ParseRstReportBytes(crlf, fromCrLf);
    EXPECT_EQ(Show(fromCrLf), Show(c.expected));
  }
}

TEST(RstReportParser, NumbersFromSizeValues) {
  const struct {
    std::wstring value;
    std::int32_t number;
  } cases[] = {
      {L"465.76 GB", 465},
      {L"29.82 GB", 29},
      {L"0 GB", 0},
      {L"512", 512},
      {L"1234567890 GB", 1234567890},
      {L"00000000000000000000000000042 GB", 42},
      {L"2147483647 GB", INT32_MAX},
      {L"2147483648 GB", INT32_MAX},
      {L"99999999999999999999999999 GB", INT32_MAX},
      {L"-2147483648 GB", INT32_MIN},
      {L"-99999999999 GB", INT32_MIN},
      {L"-12 GB", -12},
      {L"+7 GB", 7},
      {L" \t 42 GB", 42},
      {L"GB", 0},
      {L"x12 GB", 0},
      {L"12 345 GB", 12},  // the text before the last blank is "12 345"
      {L"1,024.5 MB", 1},
      {L"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing_support::Printable(c.value));
    RstDeviceList list;
    ParseRstReportText(kMarker + L_(L"ID:", L"x") + L_(L"Size:", c.value) +
                           L_(L"Free Size:", c.value) + L_(L"Model:", L"m"),
                       list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Size, c.number);
    EXPECT_EQ(list[0].FreeSize, c.number);
  }
}

TEST(RstReportParser, SystemDiskFlagFromTheLinesLastWord) {
  const struct {
    std::wstring line;
    std::int32_t flag;
  } cases[] = {
      {L"System Disk:       True", 1},    {L"System Disk:       False", 0},
      {L"System Disk:       True ", 0},  // the text after the last blank is empty
      {L"System Disk:       IsTrue!", 1}, {L"System Disk:       true", 0},
      {L"System Disk:True", 1},  // no value column needed: the last word of the whole line
      {L"System Disk: True False", 0},    {L"System Disk:", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing_support::Printable(c.line));
    RstDeviceList list;
    ParseRstReportText(kMarker + L_(L"ID:", L"x") + c.line + L"\n" + L_(L"Model:", L"m"), list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].SystemDisk, c.flag);
  }
}

TEST(RstReportParser, RecordsAreAppendedToWhatTheListHolds) {
  RstDeviceList list{Blocked(L"old", 1, L"Old")};
  ParseRstReportText(kMarker + Block(L"a", L"2 GB", L"A") + Block(L"b", L"3 GB", L"B"), list);
  EXPECT_EQ(Show(list),
            Show({Blocked(L"old", 1, L"Old"), Blocked(L"a", 2, L"A"), Blocked(L"b", 3, L"B")}));
}

TEST(RstReportParser, FileBytesInTextModeAndTheAnsiCodePage) {
  RstDeviceList list;
  // A lone CR and a CR before the CR LF stay; bytes after a zero byte are kept; 0xE9 is e-acute
  // in the simulated ANSI code page.
  ParseRstReportBytes(std::string("--END DEVICE INFORMATION--\r\n") +
                          "ID:                a\rb\r\r\n" + "Usage:             caf\xE9\r\n" +
                          std::string("Model:             AB\0CD", 24) + "\r\n",
                      list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].ID, L"a\rb\r");
  EXPECT_EQ(list[0].Usage, L"caf\u00e9");
  EXPECT_EQ(list[0].Model, std::wstring(L"AB\0CD", 5));
}

}  // namespace
