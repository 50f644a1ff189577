#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace sfh56::win32 {

int QueryPlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return platform::kPlatformWin32Nt;
  return static_cast<int>(info.dwPlatformId);
}

Win32Platform::Win32Platform()
    : platform_{counters, scheduler, serial_ports, registry,         message_boxes,
                host_ipc, files,     modules,      QueryPlatformId()} {}

}  // namespace sfh56::win32
