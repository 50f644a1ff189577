#include <windows.h>
#undef OpenSemaphore
#undef SendMessage
#undef RegisterWindowMessage

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_files.h"
#include "platform/win32/win32_host_ipc.h"

namespace sfh56::win32 {
namespace {

// A message-only window that records what the plugin sends it.
struct Received {
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  ULONG_PTR dw_data = 0;
  std::vector<char> bytes;
};
Received g_received;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COPYDATA) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    g_received = {message, wparam, 0, copy->dwData, {}};
    const char* data = static_cast<const char*>(copy->lpData);
    g_received.bytes.assign(data, data + copy->cbData);
    return TRUE;
  }
  if (message >= WM_USER) {
    g_received = {message, wparam, lparam, 0, {}};
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND CreateRecordingWindow() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = RecordingWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "SfhHostIpcTestWindow";
  RegisterClassA(&window_class);
  return CreateWindowExA(0, "SfhHostIpcTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         window_class.hInstance, nullptr);
}

TEST(Win32HostIpc, OpensTheHostsNamedObjectsAndMapsTheWholeView) {
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "SfhTestMapping");
  HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, "SfhTestSemaphore");
  ASSERT_NE(mapping, nullptr);
  ASSERT_NE(semaphore, nullptr);
  {
    Win32HostIpc ipc;
    EXPECT_FALSE(ipc.OpenMapping("SfhNoSuchMapping"));
    EXPECT_EQ(ipc.MapView(), nullptr);
    EXPECT_EQ(ipc.ViewSize(), 0u);
    EXPECT_FALSE(ipc.WaitSemaphore(0)) << "no semaphore opened";

    ASSERT_TRUE(ipc.OpenMapping("SfhTestMapping"));
    ASSERT_TRUE(ipc.OpenSemaphore("SfhTestSemaphore"));
    char* view = ipc.MapView();
    ASSERT_NE(view, nullptr);
    EXPECT_GE(ipc.ViewSize(), 100u);
    std::strcpy(view, "48B7");

    // The host sees the write through its own view.
    char* host_view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    EXPECT_STREQ(host_view, "48B7");
    UnmapViewOfFile(host_view);

    EXPECT_TRUE(ipc.WaitSemaphore(0));
    EXPECT_FALSE(ipc.WaitSemaphore(10)) << "the plugin never releases it";
    ReleaseSemaphore(semaphore, 1, nullptr);
    EXPECT_TRUE(ipc.WaitSemaphore(10));

    // The plugin's handles keep the named objects alive until it closes them.
    CloseHandle(mapping);
    CloseHandle(semaphore);
    HANDLE again = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "SfhTestSemaphore");
    EXPECT_NE(again, nullptr);
    CloseHandle(again);
    ipc.CloseHandles();
    EXPECT_EQ(OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "SfhTestSemaphore"), nullptr);
    EXPECT_NE(ipc.MapView(), nullptr) << "the view outlives the handles";
  }
}

TEST(Win32HostIpc, SendsCopyDataAndRegisteredMessagesToTheHostWindow) {
  HWND window = CreateRecordingWindow();
  ASSERT_NE(window, nullptr);
  Win32HostIpc ipc;
  const auto handle = reinterpret_cast<platform::WindowHandle>(window);

  const char code[] = "1A2B";
  ipc.SendCopyData(handle, 7, 0, code, sizeof code);
  EXPECT_EQ(g_received.message, static_cast<UINT>(WM_COPYDATA));
  EXPECT_EQ(g_received.wparam, 7u);
  EXPECT_EQ(g_received.dw_data, 0u);
  EXPECT_EQ(g_received.bytes, (std::vector<char>{'1', 'A', '2', 'B', '\0'}));

  const uint32_t id = ipc.RegisterWindowMessage("9FC3EB47-4ED7-41f2-BDE7-955D1BB05D8E");
  EXPECT_GE(id, 0xC000u);
  EXPECT_EQ(ipc.RegisterWindowMessage("9FC3EB47-4ED7-41f2-BDE7-955D1BB05D8E"), id);
  ipc.SendMessage(handle, id, 207, 0);
  EXPECT_EQ(g_received.message, id);
  EXPECT_EQ(g_received.wparam, 207u);
  DestroyWindow(window);
}

TEST(Win32Files, FindsTheMainExecutableAndWritesFiles) {
  Win32Files files;
  const std::string exe = files.MainExecutablePath();
  EXPECT_NE(exe.find("host_ipc_test.exe"), std::string::npos) << exe;
  EXPECT_EQ(files.LoadVersionBlock(exe), nullptr) << "this program has no version resource";
  EXPECT_EQ(files.LoadVersionBlock("C:\\no\\such\\file.exe"), nullptr);

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "sfh_files_test.txt";
  DeleteFileA(path.c_str());
  EXPECT_EQ(files.OpenForAppend(path), nullptr) << "appending needs an existing file";
  ASSERT_NE(files.Create(path), nullptr);
  {
    auto file = files.OpenForAppend(path);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write("one\r\n"));
    EXPECT_TRUE(file->Write("two\r\n"));
  }
  {
    auto file = files.OpenForAppend(path);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write("three\r\n"));
  }
  HANDLE read = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  char contents[64] = {};
  DWORD got = 0;
  ReadFile(read, contents, sizeof contents - 1, &got, nullptr);
  CloseHandle(read);
  EXPECT_STREQ(contents, "one\r\ntwo\r\nthree\r\n");
  DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace sfh56::win32
