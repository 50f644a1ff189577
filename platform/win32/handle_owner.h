#pragma once
// The one owner of a kernel object handle (events, threads, files, serial ports, the
// host's mapping and semaphore): closes it exactly once. Movable, not copyable. Both
// failure values of the Win32 API, null and INVALID_HANDLE_VALUE, count as no handle.

#include <windows.h>

namespace sfh56::win32 {

class HandleOwner {
 public:
  HandleOwner() = default;
  explicit HandleOwner(HANDLE handle) : handle_(handle) {}
  ~HandleOwner() { Reset(); }
  HandleOwner(HandleOwner&& other) noexcept : handle_(other.Release()) {}
  HandleOwner& operator=(HandleOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Gives the handle up without closing it.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  // Closes the handle held (if any) and takes handle.
  void Reset(HANDLE handle = nullptr) {
    if (*this) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace sfh56::win32
