#pragma once
// The processor's most privileged level (ring 0), as ring-0 capture uses it: a routine
// that polls a UART register with interrupts held off, run by the hardware-access driver
// or, on Windows 9x, as the handler of a software interrupt.
//
// The routine's sampling loop is written once over a few inline primitives: read a byte
// from an I/O port, read the time-stamp counter, disable and enable interrupts, save and
// restore the flags. The product executes the instructions themselves
// (platform/x86_instructions.h). A platform that cannot execute them (the simulated one)
// offers a PrivilegedMachine instead, and the same loop runs over that.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define SFH_RING0_CALL __stdcall
#else
#define SFH_RING0_CALL
#endif

namespace sfh56::platform {

// A routine run at ring 0: one pointer argument, removed by the routine itself (a plain
// Windows API function); returns the number of records it stored.
using Ring0Routine = int32_t(SFH_RING0_CALL*)(void* argument);

// The highest I/O port address.
inline constexpr int32_t kMaxIoPort = 0xFFFF;
// The interrupt-enable bit of the flags register.
inline constexpr uintptr_t kInterruptFlag = 0x200;

// The primitives of a ring-0 routine, for a platform without the real instructions.
class PrivilegedMachine {
 public:
  virtual ~PrivilegedMachine() = default;
  virtual uint8_t ReadPortByte(uint16_t port) = 0;  // in al, dx
  virtual int64_t ReadTimeStampCounter() = 0;       // rdtsc
  virtual void DisableInterrupts() = 0;             // cli
  virtual void EnableInterrupts() = 0;              // sti
  virtual uintptr_t SaveFlags() = 0;                // pushf
  virtual void RestoreFlags(uintptr_t flags) = 0;   // popf
};

// What a platform offers for running a routine at ring 0, beyond the driver.
class Ring0Access {
 public:
  virtual ~Ring0Access() = default;

  // Null where a routine executes the processor's own instructions; otherwise the machine
  // a routine runs on (handed to it as its argument).
  virtual PrivilegedMachine* SimulatedMachine() = 0;

  // Calls call(context) and gives its result. A processor fault inside the call (an access
  // violation, a privileged instruction that is not allowed) ends it instead: the stack is
  // put back as it was at the call, and the answer is false.
  using GuardedCall = int32_t (*)(void* context);
  virtual bool CallGuarded(GuardedCall call, void* context, int32_t& result) = 0;

  // Windows 9x without a driver: runs routine(argument) at ring 0 as the handler of
  // interrupt vector 5. The vector's gate is saved, pointed at the routine, raised and put
  // back, with a process-wide unhandled-exception filter in place meanwhile. False when the
  // switch faulted (stack, gate and filter are then restored) and on platforms without
  // the route (it exists in the 32-bit product only).
  virtual bool RunAsInterruptHandler(Ring0Routine routine, void* argument, int32_t& result) = 0;
};

}  // namespace sfh56::platform
