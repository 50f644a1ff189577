#include "config/win32/help_picture_unit.h"

namespace sfh56::win32 {

ScopedWindowClass THelpForm::RegisterClass(HINSTANCE module) {
  return ScopedWindowClass(module, kHelpFormClass, Procedure,
                           reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                           LoadCursor(nullptr, IDC_ARROW));
}

THelpForm::THelpForm(HWND owner) {
  window_ = CreateWindowExA(WS_EX_TOOLWINDOW, kHelpFormClass, kHelpFormCaption,
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, 100, 100,
                            owner, nullptr, ThisModule(), this);
}

THelpForm::~THelpForm() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (picture_ != nullptr) DeleteObject(picture_);
}

void THelpForm::Show() {
  if (window_ == nullptr) return;
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

void THelpForm::FormCreate() {
  picture_ = static_cast<HBITMAP>(
      LoadImageA(ThisModule(), kSchematicResource, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  BITMAP info{};
  if (picture_ != nullptr) GetObjectA(picture_, sizeof info, &info);
  // At the screen's top-left corner, the client area exactly the picture.
  RECT outer{0, 0, info.bmWidth, info.bmHeight};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_EXSTYLE)));
  SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  receiver_image_ = CreateWindowExA(
      0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE | SS_NOTIFY, 0, 0,
      info.bmWidth, info.bmHeight, window_, nullptr, ThisModule(), nullptr);
  if (receiver_image_ != nullptr && picture_ != nullptr) {
    SendMessageA(receiver_image_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_));
  }
}

LRESULT CALLBACK THelpForm::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<THelpForm*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<THelpForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  switch (message) {
    case WM_CREATE:
      form->FormCreate();
      return 0;
    case WM_COMMAND:  // ReceiverImage clicked
      if (reinterpret_cast<HWND>(lparam) == form->receiver_image_ &&
          HIWORD(wparam) == STN_CLICKED) {
        form->FormClick();
      }
      return 0;
    case WM_LBUTTONDOWN:
      form->FormClick();
      return 0;
    case WM_CHAR:
      form->FormKeyPress();
      return 0;
    case WM_CLOSE:
      form->Close();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      form->window_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace sfh56::win32
