#pragma once
// The hardware-access library as the plugin calls it: its file, the names it is opened
// with, and its four entry points, exported by name as plain Windows API functions that
// take and return 32-bit values (pointers on the 64-bit test build).
//
//   OpenTVicHW32(handle, service, device)  opens; returns the handle for every later call
//   GetActiveHW(handle)                    nonzero when the driver is open and usable
//   RunRing0Function(handle, routine, arg) runs routine(arg) once at ring 0, synchronously
//                                          on the calling thread, and returns its result
//   CloseTVicHW32(handle)                  closes; returns a handle value
//
// Shared by the plugin and by the hardware-access library it carries.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define SFH_DRIVER_CALL __stdcall
#else
#define SFH_DRIVER_CALL
#endif

namespace sfh56 {

inline constexpr char kDriverLibraryName[] = "PlonixDRV.dll";
inline constexpr char kDriverServiceName[] = "TVICHW32";
inline constexpr char kDriverDeviceName[] = "TVicDevice0";

inline constexpr char kOpenTVicHW32[] = "OpenTVicHW32";
inline constexpr char kCloseTVicHW32[] = "CloseTVicHW32";
inline constexpr char kGetActiveHW[] = "GetActiveHW";
inline constexpr char kRunRing0Function[] = "RunRing0Function";

// A routine run at ring 0: takes one argument, removes it itself on return, and returns
// the number of records it stored.
using Ring0Routine = int32_t(SFH_DRIVER_CALL*)(void* argument);

using OpenTVicHW32Function = uint32_t(SFH_DRIVER_CALL*)(uint32_t handle, const char* service_name,
                                                        const char* device_name);
using CloseTVicHW32Function = uint32_t(SFH_DRIVER_CALL*)(uint32_t handle);
using GetActiveHWFunction = uint32_t(SFH_DRIVER_CALL*)(uint32_t handle);
using RunRing0FunctionFunction = int32_t(SFH_DRIVER_CALL*)(uint32_t handle, Ring0Routine routine,
                                                           void* argument);

}  // namespace sfh56
