#pragma once
// The hardware-access driver: its files written to disk from the plugin's own resources,
// its library loaded, and the driver opened, all without a single message; every failure
// leaves the driver inactive, and the receiver then captures without it.
//
// InstallDriverFiles writes, from the resources "WinDLL", "Win9xVXD" and "WinNTSYS":
//   the library       Windows folder\PlonixDRV.dll                  every system
//   the VxD           Windows folder\SYSTEM\TVICHW32.VXD            Windows 9x
//   the NT driver     Windows folder\SYSTEM32\DRIVERS\TVicHW32.sys  every other system
// each one saved to the temporary folder first, copied over the destination and the
// temporary copy deleted; a destination that cannot be overwritten (a read-only or
// loaded library, a folder without write access) keeps what it holds. Outside Windows
// 9x it also writes the automatic-start service key
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\TVICHW32. The files and the key
// stay after the plugin is gone.
//
// HardwareDriver is the driver's state, owned by the receiver object: opened once in the
// receiver's constructor before its thread runs, closed in its destructor after the
// thread has ended; the receiver thread only reads it in between.

#include <cstdint>
#include <memory>

#include "hwaccess/driver_entry_points.h"
#include "platform/platform.h"

namespace sfh56 {

void InstallDriverFiles(platform::Platform& platform);

class HardwareDriver {
 public:
  explicit HardwareDriver(platform::Platform& platform) : platform_(platform) {}
  // Closes the driver if the owner has not.
  ~HardwareDriver();
  HardwareDriver(const HardwareDriver&) = delete;
  HardwareDriver& operator=(const HardwareDriver&) = delete;

  // Installs the files, loads the library (a second time after another install) and opens
  // the driver (a second time after another install) until it reports active.
  void OpenHardwareDriver();
  // Closes the driver if it is active, and unloads the library if it is loaded.
  void CloseHardwareDriver();

  // The library is loaded with all four entry points and the driver reported active.
  bool DriverActive() const { return active_; }
  // The value the library's open returned; 0 before it.
  uint32_t DriverHandle() const { return handle_; }
  // The library is loaded (with all four entry points).
  bool DriverLibraryLoaded() const { return library_ != nullptr; }
  // Runs routine(argument) once at ring 0 through the driver and returns its result.
  // Only while DriverActive(); 0 otherwise, without running it.
  int32_t RunRing0Function(Ring0Routine routine, void* argument);

 private:
  // Loads the library (installing once more if the first load fails) and resolves the
  // four entry points; false, with the library unloaded, when one is missing.
  bool LoadDriverLibrary();

  struct EntryPoints {
    OpenTVicHW32Function OpenTVicHW32 = nullptr;
    CloseTVicHW32Function CloseTVicHW32 = nullptr;
    GetActiveHWFunction GetActiveHW = nullptr;
    RunRing0FunctionFunction RunRing0Function = nullptr;
  };

  platform::Platform& platform_;
  std::unique_ptr<platform::Module> library_;  // DriverLibrary
  EntryPoints entry_;
  uint32_t handle_ = 0;  // DriverHandle
  bool active_ = false;  // DriverActive
};

}  // namespace sfh56
