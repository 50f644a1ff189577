#include "hwaccess/hardware_driver.h"

#include <atomic>

namespace sfh56 {
namespace {

// One driver per process, like the receiver it serves.
std::atomic<bool> g_driver_active{false};

}  // namespace

void OpenHardwareDriver(platform::Platform& /*platform*/) {
  // No driver component is part of this build: nothing to write to disk or open.
  g_driver_active.store(false);
}

void CloseHardwareDriver() {
  g_driver_active.store(false);
}

bool DriverActive() {
  return g_driver_active.load();
}

}  // namespace sfh56
