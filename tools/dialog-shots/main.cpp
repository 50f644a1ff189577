// dialog-shots: shows the configuration dialog as the plugin does, walks it to the views
// a user meets (basic and advanced layouts, a hover hint, a context-help window, the
// receiver schematic) and asks for a screenshot of each: it writes NAME.shot, holding the
// screen area to keep as WIDTHxHEIGHT+LEFT+TOP, into the working folder and waits until
// whoever takes the pictures (scripts/screenshots) has removed it.

#include <windows.h>

#include <cstdio>
#include <string>

#include "config/config_box_texts.h"
#include "config/win32/config_box_unit.h"
#include "config/win32/help_picture_unit.h"
#include "config/win32/hint_window.h"
#include "config/win32/win32_config_box.h"

namespace {

using sfh56::ConfigControl;
using C = ConfigControl;
namespace w = sfh56::win32;

HWND g_dialog = nullptr;
DWORD g_ui_thread = 0;
bool g_failed = false;

HWND Control(C c) {
  HWND panel = GetDlgItem(g_dialog, w::ControlId(C::Panel1));
  HWND on_dialog = GetDlgItem(g_dialog, w::ControlId(c));
  return on_dialog != nullptr ? on_dialog : GetDlgItem(panel, w::ControlId(c));
}

void PointTo(HWND window, POINT at) {
  ClientToScreen(window, &at);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

// The area of the dialog and of every hint window of it, with a margin.
RECT AreaOfDialog() {
  RECT area;
  GetWindowRect(g_dialog, &area);
  for (HWND hint = FindWindowA(w::kHintWindowClass, nullptr); hint != nullptr;
       hint = FindWindowExA(nullptr, hint, w::kHintWindowClass, nullptr)) {
    RECT r;
    if (!IsWindowVisible(hint)) continue;
    GetWindowRect(hint, &r);
    UnionRect(&area, &area, &r);
  }
  InflateRect(&area, 12, 12);
  return area;
}

RECT AreaOfSchematic() {
  RECT area{0, 0, 480, 260};
  if (HWND schematic = FindWindowA(w::kHelpFormClass, w::kHelpFormCaption)) {
    GetWindowRect(schematic, &area);
  }
  return area;
}

void Shot(const char* name, RECT (*area_of)()) {
  Sleep(400);  // let everything appear and paint
  const RECT area = area_of();
  const std::string request = std::string(name) + ".shot";
  if (FILE* f = fopen(request.c_str(), "w")) {
    fprintf(f, "%ldx%ld+%ld+%ld\n", area.right - area.left, area.bottom - area.top,
            area.left < 0 ? 0 : area.left, area.top < 0 ? 0 : area.top);
    fclose(f);
  }
  for (int waited = 0; waited < 20000; waited += 20) {
    if (GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(20);
  }
  fprintf(stderr, "dialog-shots: nobody took %s\n", name);
  g_failed = true;
}

DWORD WINAPI Walk(LPVOID) {
  // The pointer away in a corner, where it rests on nothing of the dialog's.
  INPUT corner{};
  corner.type = INPUT_MOUSE;
  corner.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  corner.mi.dx = corner.mi.dy = 65535;
  SendInput(1, &corner, sizeof corner);
  for (int i = 0; i < 500 && g_dialog == nullptr; ++i) {
    HWND found = FindWindowA("#32770", w::kConfigBoxCaption);
    if (found != nullptr && IsWindowVisible(found)) g_dialog = found;
    Sleep(20);
  }
  if (g_dialog == nullptr) {
    g_failed = true;
    return 1;
  }
  Shot("config-basic", AreaOfDialog);

  PointTo(Control(C::COMComboBox), {30, 10});
  Sleep(300);
  Shot("config-hover-hint", AreaOfDialog);

  SendMessageA(Control(C::AdvancedButton), BM_CLICK, 0, 0);
  PointTo(g_dialog, {-40, -40});
  Shot("config-advanced", AreaOfDialog);

  // "?" then the command-order label. The title bar's help mode exists only on Windows:
  // the press on the label is queued behind the command, as the help mode leaves it.
  HWND label = Control(C::CountLabel);
  PointTo(label, {20, 6});
  Sleep(300);
  HANDLE ui = OpenThread(THREAD_SUSPEND_RESUME, FALSE, g_ui_thread);
  SuspendThread(ui);
  PostMessageA(g_dialog, WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
  PostMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 6));
  ResumeThread(ui);
  CloseHandle(ui);
  Shot("config-context-help", AreaOfDialog);
  PostMessageA(g_dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 115));

  SendMessageA(Control(C::InfoButton), BM_CLICK, 0, 0);
  PointTo(g_dialog, {-40, -40});
  Shot("receiver-schematic", AreaOfSchematic);

  PostMessageA(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

}  // namespace

int main() {
  g_ui_thread = GetCurrentThreadId();
  HANDLE walker = CreateThread(nullptr, 0, Walk, nullptr, 0, nullptr);
  sfh56::ConfigBoxValues values;
  values.ring0_enabled = true;
  values.ring0_checked = true;
  sfh56::win32::Win32ConfigBox box;
  box.ShowModal(sfh56::EnglishConfigBoxTexts(), values);
  WaitForSingleObject(walker, 60000);
  CloseHandle(walker);
  return g_failed ? 1 : 0;
}
