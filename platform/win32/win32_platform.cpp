#include "platform/win32/win32_platform.h"

#include <windows.h>

namespace sfh56::win32 {

namespace {

OSVERSIONINFOA QueryVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) {
    info.dwPlatformId = platform::kPlatformWin32Nt;
    info.dwMajorVersion = 5;
  }
  return info;
}

}  // namespace

int QueryPlatformId() {
  return static_cast<int>(QueryVersion().dwPlatformId);
}

Win32Platform::Win32Platform()
    : platform_{counters,
                scheduler,
                serial_ports,
                registry,
                message_boxes,
                host_ipc,
                files,
                modules,
                ring0,
                QueryPlatformId(),
                static_cast<int>(QueryVersion().dwMajorVersion)} {}

}  // namespace sfh56::win32
