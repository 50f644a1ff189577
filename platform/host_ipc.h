#pragma once
// What the older host generation offers the plugin: its named file mapping and
// semaphore, and its window, reached with SendMessageA. Values are the Win32 ones.

#include <cstddef>
#include <cstdint>
#include <string>

// <windows.h> defines these names as macros; in a file that includes it before this one
// they would rename the methods below.
#undef OpenSemaphore
#undef SendMessage
#undef RegisterWindowMessage

namespace sfh56::platform {

using WindowHandle = uintptr_t;

inline constexpr uint32_t kWmCopyData = 0x004A;

class HostIpc {
 public:
  virtual ~HostIpc() = default;
  // OpenFileMappingA(FILE_MAP_WRITE, not inheritable, name).
  virtual bool OpenMapping(const std::string& name) = 0;
  // OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, not inheritable, name).
  virtual bool OpenSemaphore(const std::string& name) = 0;
  // MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0): the whole mapping, or null.
  virtual char* MapView() = 0;
  // Size of the mapped view in bytes (0 without a view).
  virtual size_t ViewSize() = 0;
  // Closes the mapping and semaphore handles that are open; the view stays mapped.
  virtual void CloseHandles() = 0;
  // WaitForSingleObject on the semaphore: true when it was acquired within timeout_ms.
  virtual bool WaitSemaphore(uint32_t timeout_ms) = 0;

  virtual intptr_t SendMessage(WindowHandle window, uint32_t message, uintptr_t wparam,
                               intptr_t lparam) = 0;
  // SendMessageA(window, WM_COPYDATA, wparam, &COPYDATASTRUCT{dw_data, size, data}).
  virtual void SendCopyData(WindowHandle window, uintptr_t wparam, uintptr_t dw_data,
                            const void* data, uint32_t size) = 0;
  // RegisterWindowMessageA; 0 on failure.
  virtual uint32_t RegisterWindowMessage(const std::string& name) = 0;
};

}  // namespace sfh56::platform
