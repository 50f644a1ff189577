#include <gtest/gtest.h>

#include <cmath>

#include "host/version_info.h"
#include "host/version_number.h"
#include "tests/host/host_fakes.h"

namespace sfh56 {
namespace {

TEST(ConvertNumber, AcceptsTheWholeFormAndGivesTheCLibrarysDouble) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"3.1", 3.1},
      {"3.10", 3.1},
      {"  4.0", 4.0},
      {"-2.5", -2.5},
      {"+7", 7.0},
      {"3.", 3.0},
      {".5", 0.5},
      {".", 0.0},
      {"1e3", 1000.0},
      {"1.5E-2", 0.015},
      {"2e+1", 20.0},
      {"0.1", 0.1},
      {"E5", 0.0},
      {"+.e1", 0.0},
      {"-.", -0.0},
      {"1e400", HUGE_VAL},
      {"1e-400", 0.0},
      {"0.0001e99999999999999999999", HUGE_VAL},
  };
  for (const Case& c : cases) {
    const NumberConversion result = ConvertNumber(c.text);
    EXPECT_TRUE(result.ok) << c.text;
    EXPECT_EQ(result.value, c.value) << c.text;
  }
}

TEST(ConvertNumber, ReportsThePositionOfTheFirstCharacterThatDoesNotFit) {
  struct Case {
    const char* text;
    size_t position;
  } cases[] = {
      {"3.5.0.12", 4}, {"3, 2, 0, 0", 2}, {"v3.5", 1},  {"3.5E", 5}, {"", 1},
      {"   ", 4},      {"-", 2},          {"3.5E+", 6}, {"1e5x", 4}, {"1ex", 3},
      {"3 ", 2},       {"\t3", 1},        {"++3", 2},   {"1.2.", 4},
  };
  for (const Case& c : cases) {
    const NumberConversion result = ConvertNumber(c.text);
    EXPECT_FALSE(result.ok) << c.text;
    EXPECT_EQ(result.failure_position, c.position) << c.text;
  }
}

TEST(HostVersionResult, ComparesTheConvertedFileVersionWith3Point1) {
  struct Case {
    const char* file_version;
    int result;
  } cases[] = {
      {"3.1", 2},   {"3.5.0.12", 2}, {"3.10", 2},  {"3.09", 1}, {"3, 2, 0, 0", 1},
      {"  4.0", 2}, {"v3.5", 1},     {"3.5E", 1},  {"", 1},     {"3.1.0.0", 2},
      {"3.0", 1},   {"-4", 1},       {"31e-1", 2}, {"4, 0", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostVersionResult(c.file_version), c.result) << c.file_version;
  }
}

TEST(ReadVersionInfo, QueriesTheTenNamesInTheUsEnglishBlockOnly) {
  test::FakeFiles files;
  const std::string block = "StringFileInfo\\040904E4\\";
  files.version_strings = std::map<std::string, std::string>{
      {block + "CompanyName", "Co"},
      {block + "FileDescription", "Desc"},
      {block + "FileVersion", "3.1.0.0"},
      {block + "InternalName", "host"},
      {block + "LegalCopyright", "(c)"},
      {block + "LegalTradeMarks", "TM"},
      {block + "OriginalFilename", "h.exe"},
      {block + "ProductName", "Prod"},
      {block + "ProductVersion", "3.1"},
      {block + "Comments", "none"},
      {"StringFileInfo\\040704B0\\LegalTrademarks", "wrong block"},
  };
  const TVersionInfo info = ReadVersionInfo(files, "C:\\h.exe");
  EXPECT_EQ(files.version_paths, std::vector<std::string>{"C:\\h.exe"});
  EXPECT_EQ(info.CompanyName, "Co");
  EXPECT_EQ(info.FileDescription, "Desc");
  EXPECT_EQ(info.FileVersion, "3.1.0.0");
  EXPECT_EQ(info.InternalName, "host");
  EXPECT_EQ(info.LegalCopyright, "(c)");
  EXPECT_EQ(info.LegalTradeMarks, "TM");
  EXPECT_EQ(info.OriginalFilename, "h.exe");
  EXPECT_EQ(info.ProductName, "Prod");
  EXPECT_EQ(info.ProductVersion, "3.1");
  EXPECT_EQ(info.Comments, "none");
}

TEST(ReadVersionInfo, MissingResourceOrOtherLanguageGivesEmptyTexts) {
  test::FakeFiles files;
  EXPECT_EQ(ReadVersionInfo(files, "x").FileVersion, "");
  files.version_strings =
      std::map<std::string, std::string>{{"StringFileInfo\\040704B0\\FileVersion", "3.5"}};
  const TVersionInfo info = ReadVersionInfo(files, "x");
  EXPECT_EQ(info.FileVersion, "");
  EXPECT_EQ(info.CompanyName, "");
  EXPECT_EQ(HostVersionResult(info.FileVersion), 1);
}

}  // namespace
}  // namespace sfh56
