// The product library installs and opens the hardware-access driver when a host opens it,
// seen from outside: the files, the service key, no temporary copies, our library loaded
// while the plugin is open, every open rewriting, and a test library in place left alone.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/driver_files.h"
#include "tests/win/plugin_dll.h"

namespace sfh56::dlltest {
namespace {

using namespace wintest;

class DriverDllTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveDriverInstallation(); }
  void TearDown() override { RemoveDriverInstallation(); }

  void Open(PluginDll& dll) {
    void* table[28] = {};
    ASSERT_EQ(dll.Get<OpenExport>("gir_open")(3, 2, 0, table), 1);
  }
  void Close(PluginDll& dll) { EXPECT_EQ(dll.Get<IntExport>("gir_close")(), 1); }
};

TEST_F(DriverDllTest, EveryOpenInstallsTheDriverAndLoadsOurLibraryUntilClose) {
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  for (int open = 1; open <= 2; ++open) {
    SCOPED_TRACE(open);
    Open(dll);
    EXPECT_EQ(FileBytes(LibraryPath()), FileBytes(WindowsPath(SFH_PAYLOAD_LIBRARY)));
    EXPECT_EQ(FileBytes(NtDriverPath()), FileBytes(WindowsPath(SFH_PAYLOAD_NT_DRIVER)));
    const std::vector<RegistryValue> values = ServiceKeyValues();
    EXPECT_EQ(values.size(), 5u);
    for (const RegistryValue& expected : ExpectedServiceValues()) {
      EXPECT_NE(std::find(values.begin(), values.end(), expected), values.end()) << expected.name;
    }
    EXPECT_FALSE(FileExists(TempFolder() + "PlonixDRV.dll"));
    EXPECT_FALSE(FileExists(TempFolder() + "TVicHW32.sys"));
    HMODULE library = GetModuleHandleA("PlonixDRV.dll");
    EXPECT_NE(library, nullptr);
    EXPECT_EQ(GetProcAddress(library, "TestDriverJournal"), nullptr) << "our own library";
    Close(dll);
    EXPECT_EQ(GetModuleHandleA("PlonixDRV.dll"), nullptr) << "unloaded at close";

    // What the next open must put right.
    WriteFileBytes(NtDriverPath(), "damaged");
    WriteFileBytes(LibraryPath(), "damaged");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const DWORD disabled = 4;
    RegSetValueExA(key, "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&disabled),
                   sizeof disabled);
    RegDeleteValueA(key, "Group");
    RegCloseKey(key);
  }
}

TEST_F(DriverDllTest, ALibraryInPlaceThatCannotBeReplacedIsTheOneOpened) {
  DriverLibraryInPlace in_place(WindowsPath(SFH_TEST_DRIVER_LIBRARY));
  ASSERT_TRUE(in_place.Ready());
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  Open(dll);
  EXPECT_EQ(FileBytes(LibraryPath()), FileBytes(WindowsPath(SFH_TEST_DRIVER_LIBRARY)));
  EXPECT_FALSE(FileExists(TempFolder() + "PlonixDRV.dll"));
  EXPECT_EQ(FileBytes(NtDriverPath()), FileBytes(WindowsPath(SFH_PAYLOAD_NT_DRIVER)));
  Close(dll);
  EXPECT_EQ(in_place.Journal(), "open TVICHW32 TVicDevice0\nactive\nclose\n");
}

}  // namespace
}  // namespace sfh56::dlltest
