#include "platform/win32/win32_host_ipc.h"

#include <windows.h>

// The seam's method names are also Win32 macros; the ANSI functions are called by name.
#undef OpenSemaphore
#undef SendMessage
#undef RegisterWindowMessage

namespace sfh56::win32 {

Win32HostIpc::~Win32HostIpc() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
}

bool Win32HostIpc::OpenMapping(const std::string& name) {
  mapping_ = HandleOwner(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()));
  return static_cast<bool>(mapping_);
}

bool Win32HostIpc::OpenSemaphore(const std::string& name) {
  semaphore_ = HandleOwner(OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, name.c_str()));
  return static_cast<bool>(semaphore_);
}

char* Win32HostIpc::MapView() {
  if (view_ == nullptr && mapping_) view_ = MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, 0);
  return static_cast<char*>(view_);
}

size_t Win32HostIpc::ViewSize() {
  if (view_ == nullptr) return 0;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view_, &info, sizeof info) != sizeof info) return 0;
  return info.RegionSize;
}

void Win32HostIpc::CloseHandles() {
  mapping_.Reset();
  semaphore_.Reset();
}

bool Win32HostIpc::WaitSemaphore(uint32_t timeout_ms) {
  if (!semaphore_) return false;
  return WaitForSingleObject(semaphore_.Get(), timeout_ms) == WAIT_OBJECT_0;
}

intptr_t Win32HostIpc::SendMessage(platform::WindowHandle window, uint32_t message,
                                   uintptr_t wparam, intptr_t lparam) {
  return SendMessageA(reinterpret_cast<HWND>(window), message, wparam, lparam);
}

void Win32HostIpc::SendCopyData(platform::WindowHandle window, uintptr_t wparam, uintptr_t dw_data,
                                const void* data, uint32_t size) {
  COPYDATASTRUCT copy{};
  copy.dwData = dw_data;
  copy.cbData = size;
  copy.lpData = const_cast<void*>(data);
  SendMessageA(reinterpret_cast<HWND>(window), WM_COPYDATA, wparam,
               reinterpret_cast<LPARAM>(&copy));
}

uint32_t Win32HostIpc::RegisterWindowMessage(const std::string& name) {
  return RegisterWindowMessageA(name.c_str());
}

}  // namespace sfh56::win32
