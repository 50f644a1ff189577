#pragma once
// The older host's named file mapping and semaphore, and messages to its window.

// First: it brings <windows.h>, whose macros the seam's header then takes back.
#include "platform/win32/handle_owner.h"

#include "platform/host_ipc.h"

// Method names of the seam that <windows.h>, when included earlier, defines as macros.
#undef OpenSemaphore
#undef SendMessage
#undef RegisterWindowMessage

namespace sfh56::win32 {

class Win32HostIpc : public platform::HostIpc {
 public:
  Win32HostIpc() = default;
  // Unmaps the view: the platform object lives until the library is unloaded.
  ~Win32HostIpc() override;
  Win32HostIpc(const Win32HostIpc&) = delete;
  Win32HostIpc& operator=(const Win32HostIpc&) = delete;

  bool OpenMapping(const std::string& name) override;
  bool OpenSemaphore(const std::string& name) override;
  char* MapView() override;
  size_t ViewSize() override;
  void CloseHandles() override;
  bool WaitSemaphore(uint32_t timeout_ms) override;
  intptr_t SendMessage(platform::WindowHandle window, uint32_t message, uintptr_t wparam,
                       intptr_t lparam) override;
  void SendCopyData(platform::WindowHandle window, uintptr_t wparam, uintptr_t dw_data,
                    const void* data, uint32_t size) override;
  uint32_t RegisterWindowMessage(const std::string& name) override;

 private:
  HandleOwner mapping_;
  HandleOwner semaphore_;
  void* view_ = nullptr;
};

}  // namespace sfh56::win32
