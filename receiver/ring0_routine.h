#pragma once
// The ring-0 routine: one pulse train polled from the UART's modem-status register, in a
// loop written once over the primitives of a machine (platform/privileged.h), on the
// module storage g_ring0. Each sample is one byte read from MsrPort and one
// time-stamp-counter read, with interrupts off around both; with KeepInterruptsOn false
// they stay off from the first sample to the end of the train. The flags, and with them
// the interrupt state, are as on entry when it returns. The train ends by the busy-mode
// rules of the train assembler (30 ms from its start below ten edges, 12.8 ms after the
// last edge from then on, compared signed and strictly), or with its 300th record.
//
//   Ring0PollRoutine            the real instructions: run by the hardware-access driver
//   Ring0InterruptPollRoutine   the same, keeping its count in Ring0IntEdgeCount: run as
//                               the handler of interrupt vector 5 on Windows 9x
//   SimulatedRing0PollRoutine   the same loop over the PrivilegedMachine given as its
//   SimulatedRing0InterruptPollRoutine   argument (the simulated platform)

#include <atomic>
#include <cstdint>

#include "decode/sequence_rule.h"
#include "platform/privileged.h"
#include "platform/x86_instructions.h"
#include "receiver/ring0_capture.h"
#include "receiver/train_assembler.h"

namespace sfh56 {

// A PrivilegedMachine behind the primitives' inline names.
class MachineCalls {
 public:
  explicit MachineCalls(platform::PrivilegedMachine& machine) : machine_(machine) {}
  uint8_t ReadPortByte(uint16_t port) { return machine_.ReadPortByte(port); }
  int64_t ReadTimeStampCounter() { return machine_.ReadTimeStampCounter(); }
  void DisableInterrupts() { machine_.DisableInterrupts(); }
  void EnableInterrupts() { machine_.EnableInterrupts(); }
  uintptr_t SaveFlags() { return machine_.SaveFlags(); }
  void RestoreFlags(uintptr_t flags) { machine_.RestoreFlags(flags); }

 private:
  platform::PrivilegedMachine& machine_;
};

// The routine's steps; edge_count is Ring0EdgeCount or Ring0IntEdgeCount.
template <typename Machine>
inline int32_t PollTrain(Machine& machine, int32_t& edge_count) {
  Ring0Storage& s = g_ring0;
  const uintptr_t flags = machine.SaveFlags();
  machine.DisableInterrupts();
  edge_count = 0;
  // Without a register address (MsrPort unset, or not base + 6 of a base above 0) nothing
  // is read: a low port address belongs to another device, whose registers may change
  // when read.
  if (s.MsrPort > kModemStatusRegister && s.MsrPort <= platform::kMaxIoPort) {
    const auto port = static_cast<uint16_t>(s.MsrPort);
    const int64_t start = machine.ReadTimeStampCounter();
    if (SequenceTimedOut(start, s.LastEdgeTime,
                         s.Thresholds.SequenceGapTicks.load(std::memory_order_relaxed))) {
      s.TrainCount = 0;
    }
    s.LastEdgeTime = start;
    s.Train.Begin(s.Ring0Buffer.data(), start);
    const TrainLimits limits{s.Thresholds.TrainStartWindowTicks.load(std::memory_order_relaxed),
                             s.Thresholds.EdgeGapTicks.load(std::memory_order_relaxed)};
    do {
      machine.DisableInterrupts();
      s.CurStatus = machine.ReadPortByte(port) & s.SignalMask;
      s.SampleTime = machine.ReadTimeStampCounter();
      if (s.KeepInterruptsOn) machine.EnableInterrupts();
      s.Train.Sample(s.CurStatus, s.SampleTime);
      s.TrainEnded = s.Train.EndsAt(s.SampleTime, limits);
    } while (!s.TrainEnded && !s.Train.Full());
    edge_count = s.Train.Count();
    s.LastEdgeTime = s.Train.LastEdgeTicks();
  }
  machine.RestoreFlags(flags);
  return edge_count;
}

#if defined(SFH_HAS_X86_INSTRUCTIONS)
int32_t SFH_RING0_CALL Ring0PollRoutine(void* argument);
int32_t SFH_RING0_CALL Ring0InterruptPollRoutine(void* argument);
#endif
int32_t SFH_RING0_CALL SimulatedRing0PollRoutine(void* machine);
int32_t SFH_RING0_CALL SimulatedRing0InterruptPollRoutine(void* machine);

}  // namespace sfh56
