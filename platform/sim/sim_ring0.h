#pragma once
// Ring 0 on the simulated platform.
//
// SimMachine is a processor for the ring-0 routine: its I/O space holds the simulated
// serial ports' UART registers, its time-stamp counter is the simulated one, and it keeps
// count of what the routine does with the interrupt flag: every disable and enable, the
// reads taken with interrupts on, and the longest stretch of virtual time with
// interrupts off. A test can make the n-th port read fault.
//
// SimRing0 offers the machine to the routine, a guarded call that turns such a fault into
// a failed call, and a Windows 9x interrupt route that runs the routine, refuses, or is
// not there at all.

#include <cstdint>
#include <mutex>

#include "platform/privileged.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_counters.h"
#include "platform/sim/sim_serial_port.h"

namespace sfh56::sim {

// What the machine throws for a fault inside a routine.
struct SimFault {};

class SimMachine : public platform::PrivilegedMachine {
 public:
  struct Stats {
    int64_t port_reads = 0;
    int64_t counter_reads = 0;
    int64_t disables = 0;
    int64_t enables = 0;
    int64_t flag_restores = 0;
    int64_t reads_with_interrupts_on = 0;
    int64_t longest_interrupts_off_ns = 0;
    bool interrupts_on = true;
  };

  SimMachine(SimClock& clock, SimCounters& counters, SimSerialPorts& ports)
      : clock_(clock), counters_(counters), ports_(ports) {}

  // The n-th port read from now on (1 = the next) faults; 0: none does.
  void FaultAtRead(int64_t n);
  Stats GetStats() const;
  void ResetStats();

  uint8_t ReadPortByte(uint16_t port) override;
  int64_t ReadTimeStampCounter() override;
  void DisableInterrupts() override;
  void EnableInterrupts() override;
  uintptr_t SaveFlags() override;
  void RestoreFlags(uintptr_t flags) override;

 private:
  void SetInterrupts(bool on);

  SimClock& clock_;
  SimCounters& counters_;
  SimSerialPorts& ports_;
  mutable std::mutex mutex_;
  Stats stats_;
  int64_t off_since_ns_ = 0;
  int64_t fault_countdown_ = 0;
};

class SimRing0 : public platform::Ring0Access {
 public:
  enum class InterruptRoute {
    kRuns,     // the switch works: the routine runs
    kFaults,   // the switch faults before the routine runs
    kMissing,  // no such route in this build
  };

  SimRing0(SimClock& clock, SimCounters& counters, SimSerialPorts& ports)
      : machine(clock, counters, ports) {}

  void SetInterruptRoute(InterruptRoute route);
  // Guarded calls that ended in a fault, and runs of the interrupt route.
  int Faults() const;
  int InterruptRuns() const;

  platform::PrivilegedMachine* SimulatedMachine() override { return &machine; }
  bool CallGuarded(GuardedCall call, void* context, int32_t& result) override;
  bool RunAsInterruptHandler(platform::Ring0Routine routine, void* argument,
                             int32_t& result) override;

  SimMachine machine;

 private:
  mutable std::mutex mutex_;
  InterruptRoute route_ = InterruptRoute::kRuns;
  int faults_ = 0;
  int interrupt_runs_ = 0;
};

}  // namespace sfh56::sim
