#pragma once
// The hardware-access driver that would let the receiver poll the UART at ring 0 on NT.
//
// This build carries no driver component, so opening never succeeds: DriverActive stays
// false, and ring-0 capture is possible only on the Windows 9x route (see
// TCommThread::Ring0Possible). Installation and loading of a driver belong here once a
// driver is carried.

#include "platform/platform.h"

namespace sfh56 {

// Tries to install and open the driver; afterwards DriverActive() tells the outcome.
void OpenHardwareDriver(platform::Platform& platform);
// Closes the driver if it is open and unloads its library; DriverActive() becomes false.
void CloseHardwareDriver();
bool DriverActive();

}  // namespace sfh56
