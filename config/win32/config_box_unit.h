#pragma once
// TConfigBox: the configuration dialog as a Win32 window. It creates the controls where
// the layout table puts them, forwards every event to ConfigBoxLogic under the handler's
// name, and shows what the logic holds: the layout, the port rule, the toggle's caption,
// the hover and help hint windows, the hint timer.

#include <windows.h>

#include <array>
#include <memory>
#include <optional>

#include "config/config_box.h"
#include "config/config_box_logic.h"
#include "config/win32/help_picture_unit.h"
#include "config/win32/hint_window.h"
#include "config/win32/window_class.h"

namespace sfh56::win32 {

inline constexpr char kConfigBoxCaption[] = "Plonix Config";
// The dialog's icon resource in the plugin library.
inline constexpr char kConfigBoxIconResource[] = "CONFIGBOX";
// The cursor over the service check box.
inline constexpr char kMultiDragCursorResource[] = "MULTIDRAG";

// Control identifiers: OKButton is IDOK, so that Enter presses it; the others follow the
// dialog's component order.
inline constexpr int ControlId(ConfigControl control) {
  return control == ConfigControl::OKButton ? IDOK : 1000 + static_cast<int>(Index(control));
}

// How the WWW label asks the shell to open the home page (tests put a recorder here).
using ShellOpen = HINSTANCE(WINAPI*)(HWND parent, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                     LPCSTR directory, INT show);

class TConfigBox {
 public:
  // Creates the dialog, hidden, with these texts and the values the controls are to hold.
  TConfigBox(const ConfigBoxTexts& texts, const ConfigBoxValues& values, ShellOpen shell_open);
  ~TConfigBox();
  TConfigBox(const TConfigBox&) = delete;
  TConfigBox& operator=(const TConfigBox&) = delete;

  bool Created() const { return dialog_ != nullptr; }
  // Shows the dialog and runs its messages until it closes: kModalResultOk through OK,
  // kModalResultCancel otherwise. The thread's other windows are disabled meanwhile.
  int ShowModal();
  // What the controls hold.
  ConfigBoxValues Values() const;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK FrameProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam,
                                    UINT_PTR, DWORD_PTR box);
  static LRESULT CALLBACK Panel1Proc(HWND panel, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK SpinEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR, DWORD_PTR box);
  INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT SysCommand(WPARAM command, LPARAM lparam);

  // --- Handlers.
  void FormCreate();
  void FormActivate();
  void FormCanResize(WINDOWPOS& position);
  void FormDestroy();
  void FormMouseDown();
  void Panel1MouseDown();
  void FormMouseMove(POINT client);
  void COMComboBoxChange(bool chosen);
  void AdvancedButtonClick();
  void LoadDefaultButtonClick();
  void InfoButtonClick();
  void WWWLabelClick();
  void HintTimerTimer();
  void Help(const HELPINFO& request);

  // --- Messages and the logic's state.
  void Process(MSG& message);
  void RouteMouse(const MSG& message);
  void ProcessPendingMessages();
  void Refresh();
  void SetClientWidth(int width);
  void SetValues(const ConfigBoxValues& values);
  void SpinStep(ConfigControl spin, int delta);
  void SpinLeft(ConfigControl spin);
  bool SetCursorFor(HWND window);
  std::optional<ConfigControl> ControlOf(HWND window, bool for_help) const;
  HWND Window(ConfigControl control) const { return controls_[Index(control)]; }
  Millis Now();
  Point HintPositionAt(POINT screen) const;

  ConfigBoxLogic logic_;
  ConfigBoxValues initial_values_;
  ShellOpen shell_open_;
  ScopedWindowClass panel_class_;
  ScopedWindowClass hint_class_;
  ScopedWindowClass help_form_class_;

  HWND dialog_ = nullptr;
  std::array<HWND, kConfigControlCount> controls_{};
  std::array<HWND, kConfigControlCount> arrows_{};  // the spin edits' up-down controls
  HFONT font_ = nullptr;
  HFONT small_font_ = nullptr;  // AdvancedButton
  HFONT link_font_ = nullptr;   // WWWLabel
  HICON icon_ = nullptr;
  HCURSOR multi_drag_cursor_ = nullptr;
  HintWindow hover_hint_;
  HintWindow help_hint_;
  std::unique_ptr<THelpForm> help_form_;
  int shown_layout_ = -1;
  bool done_ = false;
  int result_ = kModalResultCancel;
  DWORD last_tick_ = 0;
  Millis clock_ms_ = 0;
};

}  // namespace sfh56::win32
