#pragma once
// The receiver schematic window: a small tool window at the top-left corner of the screen
// that shows the wiring of the serial-port receiver. A click or a typed character hides
// it; its owner shows it again and destroys it.

#include <windows.h>

#include "config/win32/window_class.h"

namespace sfh56::win32 {

inline constexpr char kHelpFormClass[] = "THelpForm";
inline constexpr char kHelpFormCaption[] = "Receiver Schematic";
// The schematic bitmap resource in the plugin library.
inline constexpr char kSchematicResource[] = "RECEIVERSCHEMATIC";

class THelpForm {
 public:
  static ScopedWindowClass RegisterClass(HINSTANCE module);

  // Creates the window, hidden, owned by owner.
  explicit THelpForm(HWND owner);
  ~THelpForm();
  THelpForm(const THelpForm&) = delete;
  THelpForm& operator=(const THelpForm&) = delete;

  void Show();
  HWND Handle() const { return window_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void FormCreate();
  void FormClick() { Close(); }
  void FormKeyPress() { Close(); }
  // Closing a secondary window hides it; it lives on until its owner goes.
  void Close() { ShowWindow(window_, SW_HIDE); }

  HWND window_ = nullptr;
  HWND receiver_image_ = nullptr;  // ReceiverImage
  HBITMAP picture_ = nullptr;
};

}  // namespace sfh56::win32
