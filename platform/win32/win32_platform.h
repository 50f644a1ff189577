#pragma once
// The whole Win32 platform: the implementation of every platform interface, with
// platform() as the aggregate the plugin takes. Interfaces without a Win32
// implementation in this build yet answer like a machine without the resource.

#include "platform/platform.h"
#include "platform/win32/win32_counters.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_host_ipc.h"
#include "platform/win32/win32_message_boxes.h"
#include "platform/win32/win32_modules.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ring0.h"
#include "platform/win32/win32_scheduler.h"
#include "platform/win32/win32_serial_port.h"

namespace sfh56::win32 {

// The operating system's platform identifier (GetVersionExA): 1 on Windows 9x, 2 on NT.
int QueryPlatformId();

class Win32Platform {
 public:
  Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  platform::Platform& platform() { return platform_; }

  Win32Scheduler scheduler;
  Win32Counters counters;
  Win32MessageBoxes message_boxes;
  Win32Registry registry;
  Win32SerialPorts serial_ports;
  Win32HostIpc host_ipc;
  Win32Files files;
  Win32Modules modules;
  Win32Ring0 ring0;

 private:
  platform::Platform platform_;
};

}  // namespace sfh56::win32
