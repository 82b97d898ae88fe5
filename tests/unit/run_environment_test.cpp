#include "environment/run_environment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

struct ModeCase {
  const wchar_t* commandLine;
  int maximized;
};

class ModeSelection : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeSelection, KeywordsAnywhereInAnyCaseMaximizedWins) {
  const std::wstring upper = UpperCaseAscii(GetParam().commandLine);
  EXPECT_EQ(SelectMaximizedMode(upper, 1), GetParam().maximized)
      << "command line: " << ::testing::PrintToString(std::wstring(GetParam().commandLine));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModeSelection,
    ::testing::Values(ModeCase{L"", 1}, ModeCase{L"ENHANCED", 0}, ModeCase{L"enhanced", 0},
                      ModeCase{L"eNhAnCeD", 0}, ModeCase{L"MAXIMIZED", 1},
                      ModeCase{L"maximized", 1}, ModeCase{L"ENHANCED MAXIMIZED", 1},
                      ModeCase{L"MAXIMIZED ENHANCED", 1}, ModeCase{L"enhanced maximized", 1},
                      ModeCase{L"NOTENHANCED", 0}, ModeCase{L"-mode=enhanced", 0},
                      ModeCase{L"/x ENHANCEDMODE /y", 0}, ModeCase{L"ENHANCE", 1},
                      ModeCase{L"MAXIMIZE", 1}, ModeCase{L"E N H A N C E D", 1},
                      ModeCase{L"\u00e9nhanced", 1}));

TEST(ModeSelection, AKeywordFarBeyondTwoHundredSixtyCharactersIsStillFound) {
  const std::wstring line = std::wstring(5000, L'x') + L" enhanced";
  EXPECT_EQ(SelectMaximizedMode(UpperCaseAscii(line), 1), 0);
}

TEST(UpperCaseAscii, RaisesOnlyTheLettersAToZ) {
  EXPECT_EQ(UpperCaseAscii(L"az AZ 09 -_ \u00e9\u00ff\u0101 {}`@"),
            L"AZ AZ 09 -_ \u00e9\u00ff\u0101 {}`@");
}

TEST(RunEnvironment, StartValues) {
  ResetRunEnvironment();
  const RunEnvironment& env = g_RunEnvironment;
  EXPECT_THAT(env.szCommandLine, testing::IsEmpty());
  EXPECT_EQ(env.bIsMaximizedMode, 1);
  EXPECT_EQ(env.bIs64BitOS, 0);
  EXPECT_EQ(env.bIsComInitialized, 0);
  EXPECT_THAT(env.szSystemDir, testing::IsEmpty());
  EXPECT_THAT(env.szWindowsDir, testing::IsEmpty());
  EXPECT_THAT(env.szCmdExePath, testing::IsEmpty());
  EXPECT_THAT(env.szDiskpartExePath, testing::IsEmpty());
}

}  // namespace
