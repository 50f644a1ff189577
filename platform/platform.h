#pragma once
// The platform seam: everything the plugin needs from the operating system.
// platform/win32/ implements it with the Win32 API (the product DLL); platform/sim/
// implements it in memory on a virtual clock (native tests, tools, benchmarks).

#include "platform/counters.h"
#include "platform/files.h"
#include "platform/host_ipc.h"
#include "platform/modules.h"
#include "platform/privileged.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "platform/sync.h"
#include "platform/ui.h"

namespace sfh56::platform {

// The platform's operating-system version: Windows 9x or NT.
inline constexpr int kPlatformWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr int kPlatformWin32Nt = 2;

struct Platform {
  Counters& counters;
  Scheduler& scheduler;
  SerialPorts& serial_ports;
  Registry& registry;
  MessageBoxes& message_boxes;
  HostIpc& host_ipc;
  Files& files;
  Modules& modules;
  Ring0Access& ring0;
  int platform_id = kPlatformWin32Nt;
  // The operating system's major version (GetVersionExA): 4 for Windows 95, 98, Me and
  // NT 4, 5 for Windows 2000 and XP, more for later systems.
  int os_major_version = 5;
};

}  // namespace sfh56::platform
