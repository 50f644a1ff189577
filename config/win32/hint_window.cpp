#include "config/win32/hint_window.h"

#include <algorithm>

namespace sfh56::win32 {

namespace {

// Border and margins around the text, in pixels.
constexpr int kBorder = 1;
constexpr int kMarginX = 3;
constexpr int kMarginY = 2;

LRESULT CALLBACK HintProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCHITTEST:
      return HTTRANSPARENT;  // the pointer belongs to what lies beneath
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      const auto* look =
          reinterpret_cast<const HintWindow::Look*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      RECT rect;
      GetClientRect(window, &rect);
      HBRUSH brush = CreateSolidBrush(look != nullptr ? look->colour : RGB(255, 255, 255));
      FillRect(dc, &rect, brush);
      DeleteObject(brush);
      char text[1024];
      const int length = GetWindowTextA(window, text, sizeof text);
      HGDIOBJ old_font = look != nullptr ? SelectObject(dc, look->font) : nullptr;
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
      InflateRect(&rect, -kMarginX, -kMarginY);
      DrawTextA(dc, text, length, &rect, DT_WORDBREAK | DT_NOPREFIX | DT_LEFT | DT_TOP);
      if (old_font != nullptr) SelectObject(dc, old_font);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

// Keeps the rectangle on the monitor it starts on, moving it left and up when it would
// run past the right or bottom edge.
POINT KeepOnScreen(POINT top_left, int width, int height) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoA(MonitorFromPoint(top_left, MONITOR_DEFAULTTONEAREST), &info))
    return top_left;
  const RECT& area = info.rcMonitor;
  top_left.x = std::max<LONG>(area.left, std::min<LONG>(top_left.x, area.right - width));
  top_left.y = std::max<LONG>(area.top, std::min<LONG>(top_left.y, area.bottom - height));
  return top_left;
}

}  // namespace

ScopedWindowClass HintWindow::RegisterClass(HINSTANCE module) {
  return ScopedWindowClass(module, kHintWindowClass, HintProc, nullptr,
                           LoadCursor(nullptr, IDC_ARROW), CS_SAVEBITS);
}

void HintWindow::Remove() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
  }
  window_ = nullptr;
  serial_ = 0;
}

void HintWindow::Show(const std::optional<HintWindowState>& state, HWND owner, HFONT font) {
  if (state && state->serial == serial_) return;
  Remove();
  if (!state) return;
  serial_ = state->serial;

  // The text wrapped to the widest the window may be, then the window fitted around it.
  HDC dc = GetDC(nullptr);
  HGDIOBJ old_font = SelectObject(dc, font);
  const int frame_x = 2 * (kBorder + kMarginX);
  const int frame_y = 2 * (kBorder + kMarginY);
  RECT text{0, 0, std::max(1, state->max_width - frame_x), 0};
  DrawTextA(dc, state->text.c_str(), static_cast<int>(state->text.size()), &text,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_LEFT | DT_TOP);
  SelectObject(dc, old_font);
  ReleaseDC(nullptr, dc);
  const int width = std::min(state->max_width, static_cast<int>(text.right) + frame_x);
  const int height = static_cast<int>(text.bottom) + frame_y;
  const POINT at = KeepOnScreen({state->position.x, state->position.y}, width, height);

  window_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kHintWindowClass, state->text.c_str(),
                            WS_POPUP | WS_BORDER, at.x, at.y, width, height, owner, nullptr,
                            ThisModule(), nullptr);
  if (window_ == nullptr) return;
  look_ = {RGB(state->colour.red, state->colour.green, state->colour.blue), font};
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&look_));
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  UpdateWindow(window_);
}

}  // namespace sfh56::win32
