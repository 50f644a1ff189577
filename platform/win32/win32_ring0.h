#pragma once
// Ring 0 on Windows: routines execute the processor's own instructions; calls that reach
// ring 0 are guarded by a process-wide unhandled-exception filter that puts the stack
// back as it was and reports the failure; and on Windows 9x (32-bit builds only) the
// interrupt route through vector 5 of the interrupt descriptor table.

#include <cstdint>

#include "platform/privileged.h"

namespace sfh56::win32 {

class Win32Ring0 : public platform::Ring0Access {
 public:
  platform::PrivilegedMachine* SimulatedMachine() override { return nullptr; }
  bool CallGuarded(GuardedCall call, void* context, int32_t& result) override;
  bool RunAsInterruptHandler(platform::Ring0Routine routine, void* argument,
                             int32_t& result) override;
};

}  // namespace sfh56::win32
