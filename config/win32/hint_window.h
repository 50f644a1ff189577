#pragma once
// The dialog's own hint windows: a plain rectangle in the hint's colour with a thin black
// border and the text wrapped inside, at a given screen position, never taking the focus
// or the pointer.

#include <windows.h>

#include "config/config_box_logic.h"
#include "config/win32/window_class.h"

namespace sfh56::win32 {

inline constexpr char kHintWindowClass[] = "TConfigBoxHint";

class HintWindow {
 public:
  HintWindow() = default;
  ~HintWindow() { Remove(); }
  HintWindow(const HintWindow&) = delete;
  HintWindow& operator=(const HintWindow&) = delete;

  static ScopedWindowClass RegisterClass(HINSTANCE module);

  // Replaces whatever this window showed with state (nothing: no window).
  void Show(const std::optional<HintWindowState>& state, HWND owner, HFONT font);
  void Remove();
  uint32_t Serial() const { return serial_; }
  HWND Handle() const { return window_; }

  struct Look {
    COLORREF colour = 0;
    HFONT font = nullptr;
  };

 private:
  Look look_;
  HWND window_ = nullptr;
  uint32_t serial_ = 0;
};

}  // namespace sfh56::win32
