#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win32/win32_message_boxes.h"

namespace sfh56::win32 {
namespace {

// A box is answered from a helper thread, as a user would click it.
DWORD WINAPI ClickRetry(LPVOID) {
  for (int i = 0; i < 500; ++i) {
    HWND box = FindWindowA("#32770", "Caption of test");
    if (box != nullptr) {
      SendMessageA(GetDlgItem(box, IDRETRY), BM_CLICK, 0, 0);
      return 0;
    }
    Sleep(10);
  }
  return 1;
}

TEST(Win32MessageBoxes, ShowsTheBoxAndReturnsTheButtonClicked) {
  HANDLE clicker = CreateThread(nullptr, 0, ClickRetry, nullptr, 0, nullptr);
  Win32MessageBoxes boxes;
  EXPECT_EQ(boxes.Show("Text", "Caption of test",
                       platform::kMbRetryCancel | platform::kMbIconQuestion | platform::kMbTopmost),
            IDRETRY);
  WaitForSingleObject(clicker, 5000);
  CloseHandle(clicker);
}

}  // namespace
}  // namespace sfh56::win32
