#pragma once
// A window class registered for as long as a dialog lives. The plugin is a library that a
// host may unload and load again at another address: a class left registered would keep
// a window procedure that no longer exists, so every class goes with its last window.

#include <windows.h>

namespace sfh56::win32 {

class ScopedWindowClass {
 public:
  ScopedWindowClass(HINSTANCE module, const char* name, WNDPROC procedure, HBRUSH background,
                    HCURSOR cursor, UINT style = 0) noexcept
      : module_(module), name_(name) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = procedure;
    wc.hInstance = module;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    // Another live dialog of this library may hold the class already: it is the same one.
    registered_ = RegisterClassExA(&wc) != 0;
  }
  ~ScopedWindowClass() {
    if (registered_) UnregisterClassA(name_, module_);
  }
  ScopedWindowClass(const ScopedWindowClass&) = delete;
  ScopedWindowClass& operator=(const ScopedWindowClass&) = delete;

  const char* Name() const { return name_; }

 private:
  HINSTANCE module_;
  const char* name_;
  bool registered_ = false;
};

// The module that holds this code and its resources: the plugin library, or a test program.
HINSTANCE ThisModule();

}  // namespace sfh56::win32
