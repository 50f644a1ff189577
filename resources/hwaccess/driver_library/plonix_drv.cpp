// PlonixDRV.dll, the hardware-access library the plugin carries and writes to the Windows
// folder. It answers the four entry points the plugin calls (hwaccess/driver_entry_points.h)
// and offers no way into the kernel: a library or driver that ran any caller's routine at
// ring 0 would let every program on the machine take the machine over. The driver
// therefore always reports itself inactive, and the plugin captures without it (on
// Windows 9x it reaches ring 0 by its own route).
//
// A library with the same file name and entry points that does run the routine may be put
// in its place by a test; the plugin loads whatever library the search finds.

#include <windows.h>

#include <cstdint>

#include "hwaccess/driver_entry_points.h"

namespace {

// What an open answers; the plugin only passes it back.
constexpr uint32_t kSession = 1;

}  // namespace

extern "C" {

uint32_t SFH_DRIVER_CALL OpenTVicHW32(uint32_t /*handle*/, const char* service_name,
                                      const char* device_name) {
  return service_name != nullptr && device_name != nullptr ? kSession : 0;
}

uint32_t SFH_DRIVER_CALL CloseTVicHW32(uint32_t /*handle*/) {
  return 0;
}

uint32_t SFH_DRIVER_CALL GetActiveHW(uint32_t /*handle*/) {
  return 0;
}

// Never runs the routine: nothing here may execute at ring 0, and the routine's privileged
// instructions would fault in user mode.
int32_t SFH_DRIVER_CALL RunRing0Function(uint32_t /*handle*/, sfh56::Ring0Routine /*routine*/,
                                         void* /*argument*/) {
  return 0;
}

}  // extern "C"
