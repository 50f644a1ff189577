// The product library as a host sees it: loaded with LoadLibrary, driven through the
// exported entry points only.

#include <cstring>
#include <string>

#include "tests/win/plugin_dll.h"

namespace sfh56::dlltest {
namespace {

constexpr char kMappingName[] = "GirderFileMap6111976";
constexpr char kSemaphoreName[] = "GirderSemaphore6111976";
constexpr char kPluginName[] = "Plonix SFH-56 device";

bool NamedSemaphoreExists() {
  HANDLE handle = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, kSemaphoreName);
  if (handle != nullptr) CloseHandle(handle);
  return handle != nullptr;
}

bool NamedMappingExists() {
  HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, kMappingName);
  if (handle != nullptr) CloseHandle(handle);
  return handle != nullptr;
}

TEST(PluginDll, IdentityComparisonAndDeviceNumberOfBothEntrySets) {
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  char buffer[400];
  std::memset(buffer, '*', sizeof buffer);
  EXPECT_EQ(dll.Get<TextExport>("gir_name")(buffer, 5), buffer);
  EXPECT_EQ(std::string(buffer, 7), std::string("Ploni\0*", 7));
  EXPECT_STREQ(dll.Get<TextExport>("gir_description")(buffer, 100),
               "SFH-56 driver, written by Plonix Quorvel");
  EXPECT_STREQ(dll.Get<TextExport>("gir_version")(buffer, 100), "1.15");
  EXPECT_STREQ(dll.Get<TextExport>("support_device")(buffer, 256), "");
  EXPECT_STREQ(dll.Get<TextExport>("support_device")(buffer, 300), kPluginName);
  EXPECT_STREQ(dll.Get<TextExport>("identify_device")(buffer, 44),
               "SFH-56 driver, written by Plonix Quorvel");
  EXPECT_STREQ(dll.Get<TextExport>("version_device")(buffer, 3), "1.1");
  EXPECT_EQ(dll.Get<TextExport>("gir_name")(nullptr, 5), nullptr);

  EXPECT_EQ(dll.Get<CompareExport>("gir_compare")("abc", "ABC"), 0);
  EXPECT_EQ(dll.Get<CompareExport>("gir_compare")("abc", "abc"), 1);
  EXPECT_EQ(dll.Get<CompareExport>("compare_str")("abc", "abc"), -1);
  EXPECT_EQ(dll.Get<CompareExport>("compare_str")(nullptr, "abc"), 0);

  EXPECT_EQ(dll.Get<IntArgExport>("gir_requested_api")(0), 0);
  EXPECT_EQ(dll.Get<IntArgExport>("gir_requested_api")(5), 1);
  EXPECT_EQ(dll.Get<IntExport>("flush_device")(), -1);
  EXPECT_EQ(dll.Get<IntExport>("get_device_num")(), 7);
  EXPECT_EQ(dll.Get<IntExport>("gir_devicenum")(), 207);
  EXPECT_EQ(dll.Get<IntExport>("get_device_num")(), 207);
}

TEST(PluginDll, EntryPointsWithoutAnOpenPluginReportFailure) {
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  EXPECT_EQ(dll.Get<IntExport>("gir_start")(), 0);
  EXPECT_EQ(dll.Get<IntExport>("gir_stop")(), 0);
  EXPECT_EQ(dll.Get<IntExport>("start_device")(), 0);
  EXPECT_EQ(dll.Get<IntExport>("stop_device")(), 0);
  EXPECT_EQ(dll.Get<InfoExport>("gir_info")(2, 7, 0), 1);
  EXPECT_EQ(dll.Get<IntExport>("config_device")(), -1);
  dll.Get<VoidExport>("gir_config")();
  EXPECT_EQ(dll.Get<IntExport>("gir_close")(), 1);
  dll.Get<VoidExport>("clean_up_device")();
}

TEST(PluginDll, LoadKeepsTheHostsNamedObjectsOpenUntilUnload) {
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kMappingName);
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, kSemaphoreName);
  ASSERT_NE(mapping, nullptr);
  ASSERT_NE(semaphore, nullptr);
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  CloseHandle(mapping);
  CloseHandle(semaphore);
  EXPECT_TRUE(NamedMappingExists()) << "the plugin holds the host's mapping";
  EXPECT_TRUE(NamedSemaphoreExists()) << "the plugin holds the host's semaphore";
  dll.Unload();
  EXPECT_FALSE(NamedMappingExists()) << "closed at unload";
  EXPECT_FALSE(NamedSemaphoreExists()) << "closed at unload";
}

TEST(PluginDll, MappingWithoutSemaphoreIsNotTheHostsSharedMemory) {
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kMappingName);
  ASSERT_NE(mapping, nullptr);
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  CloseHandle(mapping);
  // Level 0; the mapping's handle stays open all the same, until unload.
  EXPECT_TRUE(NamedMappingExists());
  dll.Unload();
  EXPECT_FALSE(NamedMappingExists());
}

// Answers the plugin's "Cannot map segment" box as a user would.
struct BoxSeen {
  char text[128] = {};
  bool clicked = false;
};

DWORD WINAPI ClickMapFailureBox(LPVOID parameter) {
  auto* seen = static_cast<BoxSeen*>(parameter);
  for (int i = 0; i < 1000; ++i) {
    HWND box = FindWindowA("#32770", kPluginName);
    if (box != nullptr) {
      GetDlgItemTextA(box, 0xFFFF, seen->text, sizeof seen->text);
      SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
      seen->clicked = true;
      return 0;
    }
    Sleep(10);
  }
  return 1;
}

TEST(PluginDll, ViewThatCannotBeMappedShowsTheBox) {
  // A read-only mapping opens for writing but its view cannot be mapped writable.
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 4096, kMappingName);
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, kSemaphoreName);
  ASSERT_NE(mapping, nullptr);
  ASSERT_NE(semaphore, nullptr);
  HANDLE probe = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kMappingName);
  void* view = probe != nullptr ? MapViewOfFile(probe, FILE_MAP_WRITE, 0, 0, 0) : nullptr;
  if (probe != nullptr) CloseHandle(probe);
  if (probe == nullptr || view != nullptr) {
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(semaphore);
    GTEST_SKIP() << "this system maps a read-only mapping writable or refuses to open it";
  }

  BoxSeen seen;
  HANDLE clicker = CreateThread(nullptr, 0, ClickMapFailureBox, &seen, 0, nullptr);
  {
    PluginDll dll;
    EXPECT_TRUE(dll.Loaded());
  }
  WaitForSingleObject(clicker, 15000);
  CloseHandle(clicker);
  EXPECT_TRUE(seen.clicked);
  EXPECT_STREQ(seen.text, "Cannot map segment");
  CloseHandle(mapping);
  CloseHandle(semaphore);
}

// Clicks the default button of every message box that appears until told to stop; a
// capture run that cannot open its device reports that in a box.
struct BoxClicker {
  volatile LONG stop = 0;
  volatile LONG clicked = 0;
  HANDLE thread = nullptr;
  char first_caption[64] = {};
  char first_text[128] = {};

  static DWORD WINAPI Loop(LPVOID parameter) {
    auto* self = static_cast<BoxClicker*>(parameter);
    while (self->stop == 0) {
      if (HWND box = FindWindowA("#32770", nullptr)) {
        HWND button = GetDlgItem(box, IDOK);
        if (button == nullptr) button = GetDlgItem(box, IDCANCEL);
        if (self->clicked == 0) {
          GetWindowTextA(box, self->first_caption, sizeof self->first_caption);
          // A message box shows its text in the static control 0xFFFF.
          GetDlgItemTextA(box, 0xFFFF, self->first_text, sizeof self->first_text);
        }
        // Counted before the click: the click lets the waiting entry point return, and
        // its caller reads the count at once.
        InterlockedIncrement(&self->clicked);
        SendMessageA(button, BM_CLICK, 0, 0);
        // The box goes away asynchronously: never count it twice.
        for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(5);
      }
      Sleep(10);
    }
    return 0;
  }
  BoxClicker() { thread = CreateThread(nullptr, 0, Loop, this, 0, nullptr); }
  ~BoxClicker() {
    InterlockedExchange(&stop, 1);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
  }
};

// The receiver's settings under the root the host level chooses: a port that does not
// exist here.
class PortSetting {
 public:
  static constexpr char kKey[] = "Software\\Girder3\\HardPlugins\\Plonix SFH-56 device";
  explicit PortSetting(HKEY root) : root_(root) {
    HKEY key = nullptr;
    RegCreateKeyExA(root_, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const char port[] = "COM97";
    RegSetValueExA(key, "ComName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof port);
    RegCloseKey(key);
  }
  ~PortSetting() { RegDeleteKeyA(root_, kKey); }

 private:
  HKEY root_;
};

TEST(PluginDll, NewerHostOpensStartsStopsAndClosesThePlugin) {
  PortSetting setting(HKEY_LOCAL_MACHINE);
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  EXPECT_EQ(dll.Get<IntArgExport>("gir_requested_api")(1), 1);
  EXPECT_EQ(dll.Get<IntExport>("gir_devicenum")(), 207);
  void* table[28] = {};
  EXPECT_EQ(dll.Get<OpenExport>("gir_open")(3, 2, 0, table), 1);

  LONG boxes = 0;
  int32_t started = 0;
  {
    BoxClicker clicker;
    started = dll.Get<IntExport>("gir_start")();
    boxes = clicker.clicked;
    // The stored port does not exist: the serial capture says so in a box captioned with
    // the port's name, and capture is not running.
    EXPECT_EQ(started, 0);
    EXPECT_GE(boxes, 1);
    EXPECT_STREQ(clicker.first_caption, "COM97");
    EXPECT_STREQ(clicker.first_text, "Unable to open COM port");
    EXPECT_EQ(dll.Get<InfoExport>("gir_info")(2, 7, 0), 1);
    EXPECT_EQ(dll.Get<IntExport>("gir_stop")(), 1);
  }
  EXPECT_EQ(dll.Get<IntExport>("gir_close")(), 1);
  EXPECT_EQ(dll.Get<IntExport>("gir_close")(), 1) << "the second close does nothing";
  EXPECT_EQ(dll.Get<IntExport>("gir_start")(), 0) << "closed: no receiver";
}

TEST(PluginDll, OlderHostInitStartStopAndCleanUp) {
  PortSetting setting(HKEY_CURRENT_USER);
  PluginDll dll;
  ASSERT_TRUE(dll.Loaded());
  EXPECT_EQ(dll.Get<SupportExport>("h_support_functions")(nullptr), 1);
  dll.Get<InitExport>("init_device")(nullptr, nullptr);
  {
    BoxClicker clicker;
    const int32_t started = dll.Get<IntExport>("start_device")();
    EXPECT_EQ(started, clicker.clicked == 0 ? -1 : 0);
    EXPECT_EQ(dll.Get<IntExport>("stop_device")(), -1);
  }
  EXPECT_EQ(dll.Get<IntExport>("flush_device")(), -1);
  dll.Get<VoidExport>("clean_up_device")();
  EXPECT_EQ(dll.Get<IntExport>("start_device")(), 0);
}

TEST(PluginDll, LibraryStaysLoadedWhileAReceiverExists) {
  PortSetting setting(HKEY_LOCAL_MACHINE);
  void* table[28] = {};
  {
    PluginDll dll;
    ASSERT_TRUE(dll.Loaded());
    EXPECT_EQ(dll.Get<OpenExport>("gir_open")(3, 2, 0, table), 1);
    EXPECT_EQ(dll.Get<IntExport>("gir_close")(), 1);
  }
  EXPECT_EQ(GetModuleHandleA(kDllName), nullptr) << "closed, then unloaded";

  {
    PluginDll dll;
    ASSERT_TRUE(dll.Loaded());
    EXPECT_EQ(dll.Get<OpenExport>("gir_open")(3, 2, 0, table), 1);
    BoxClicker clicker;  // the stored port does not exist
    EXPECT_EQ(dll.Get<IntExport>("gir_start")(), 0);
  }
  // Unloaded by the host while open: the receiver thread keeps the library's code.
  ASSERT_NE(GetModuleHandleA(kDllName), nullptr);
  {
    PluginDll dll;
    ASSERT_TRUE(dll.Loaded());
    EXPECT_EQ(dll.Get<IntExport>("gir_stop")(), 1) << "the same plugin, still open";
    EXPECT_EQ(dll.Get<IntExport>("gir_close")(), 1);
  }
  EXPECT_EQ(GetModuleHandleA(kDllName), nullptr);
}

}  // namespace
}  // namespace sfh56::dlltest
