// Runs as a host executable whose version resource the plugin reads at load; the build
// gives each copy of this program its own resource and expected answer.

#include "tests/win/plugin_dll.h"

#include <cstring>

#include "host/version_info.h"
#include "platform/win32/win32_files.h"

namespace sfh56::dlltest {
namespace {

TEST(HostVersion, SupportFunctionsAnswerByTheHostExecutablesFileVersion) {
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  auto h_support_functions = dll.Get<SupportExport>("h_support_functions");
  void* record[11] = {};
  const uint32_t count = sizeof record;
  std::memcpy(&record[0], &count, sizeof count);
  EXPECT_EQ(h_support_functions(record), SFH_EXPECTED_SUPPORT_RESULT);
  EXPECT_EQ(h_support_functions(record), SFH_EXPECTED_SUPPORT_RESULT) << "second call";
  EXPECT_EQ(h_support_functions(nullptr), SFH_EXPECTED_SUPPORT_RESULT) << "no record";
}

TEST(HostVersion, VersionTextsOfTheMainExecutableAreReadFromTheUsEnglishBlock) {
  win32::Win32Files files;
  const TVersionInfo info = ReadVersionInfo(files, files.MainExecutablePath());
  EXPECT_EQ(info.FileVersion, SFH_EXPECTED_FILE_VERSION);
  EXPECT_EQ(info.CompanyName, SFH_EXPECTED_FILE_VERSION[0] == '\0' ? "" : "Test host maker");
  EXPECT_EQ(info.LegalTradeMarks, "");
}

}  // namespace
}  // namespace sfh56::dlltest
