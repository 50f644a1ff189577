#include "receiver/ring0_capture.h"

#include <algorithm>

#include "hwaccess/tvic_res.h"
#include "receiver/ring0_routine.h"

namespace sfh56 {

Ring0Storage g_ring0;

namespace {

// Reads and writes back, unchanged, the first and last byte of the routine's storage and
// one byte of every page between, so that all of it is present in memory before the
// driver runs the routine with interrupts off.
void TouchStorage() {
  auto* bytes = reinterpret_cast<volatile unsigned char*>(&g_ring0);
  constexpr size_t kPage = 4096;
  for (size_t at = 0; at < sizeof g_ring0; at += kPage) bytes[at] = bytes[at];
  bytes[sizeof g_ring0 - 1] = bytes[sizeof g_ring0 - 1];
}

struct DriverCall {
  HardwareDriver* driver;
  platform::Ring0Routine routine;
  void* argument;
};

int32_t CallDriver(void* context) {
  auto* call = static_cast<DriverCall*>(context);
  return call->driver->RunRing0Function(call->routine, call->argument);
}

// How many of the routine's records are valid: what the route answered, but never more
// than the routine wrote in this run, nor more than the buffer holds.
int32_t ValidRecords(int32_t answered, int32_t written) {
  return std::clamp(answered, 0, std::clamp(written, 0, kMaxCapturedEdges));
}

// The routine for this platform and its argument: the real instructions, or the same
// loop over the platform's simulated machine, which it is handed.
struct RoutineCall {
  platform::Ring0Routine routine = nullptr;
  void* argument = nullptr;
};

RoutineCall RoutineFor(platform::Ring0Access& access, bool interrupt_copy) {
  if (platform::PrivilegedMachine* machine = access.SimulatedMachine()) {
    return {interrupt_copy ? &SimulatedRing0InterruptPollRoutine : &SimulatedRing0PollRoutine,
            machine};
  }
#if defined(SFH_HAS_X86_INSTRUCTIONS)
  return {interrupt_copy ? &Ring0InterruptPollRoutine : &Ring0PollRoutine,
          g_ring0.Ring0Buffer.data()};
#else
  return {};
#endif
}

}  // namespace

bool Ring0Capture::StartRun(const std::string& port_name, uint32_t signal_mask,
                            uint8_t priority_level) {
  int32_t base = 0;
  int32_t irq = 0;
  int32_t dma = 0;
  if (!FindPortResources(platform_, port_name, base, irq, dma)) return false;
  // kNoResource marks a port without an I/O range; a UART's registers fit below 0x10000.
  if (base <= 0 || base == kNoResource || base > platform::kMaxIoPort - kModemStatusRegister) {
    return false;
  }
  g_ring0.MsrPort = base + kModemStatusRegister;
  g_ring0.SignalMask = signal_mask;
  g_ring0.KeepInterruptsOn = priority_level < kBusyPollingPriorityLevel;
  return true;
}

bool Ring0Capture::RunDriverRoute(int32_t& count) {
  const RoutineCall routine = RoutineFor(platform_.ring0, false);
  if (routine.routine == nullptr) return false;
  TouchStorage();
  g_ring0.Ring0EdgeCount = 0;
  DriverCall call{&driver_, routine.routine, routine.argument};
  int32_t answered = 0;
  if (!platform_.ring0.CallGuarded(&CallDriver, &call, answered)) return false;
  count = ValidRecords(answered, g_ring0.Ring0EdgeCount);
  return true;
}

bool Ring0Capture::RunWin9xRoute(int32_t& count) {
  const RoutineCall routine = RoutineFor(platform_.ring0, true);
  if (routine.routine == nullptr) return false;
  g_ring0.Ring0IntEdgeCount = 0;
  int32_t answered = 0;
  if (!platform_.ring0.RunAsInterruptHandler(routine.routine, routine.argument, answered)) {
    return false;
  }
  count = ValidRecords(answered, g_ring0.Ring0IntEdgeCount);
  return true;
}

void Ring0Capture::CaptureTrain(PulseTrain& train, TrainAssembler& line, SequenceRule& sequence,
                                double ticks_per_second) {
  g_ring0.TrainCount = sequence.TrainCount();
  g_ring0.LastEdgeTime = sequence.LastEdgeTicks();
  g_ring0.Train.SetPrevStatus(line.PrevStatus());

  int32_t count = 0;
  const bool ran = driver_.DriverActive() ? RunDriverRoute(count) : RunWin9xRoute(count);
  if (ran) {
    std::copy_n(g_ring0.Ring0Buffer.begin(), count, train.Edges.begin());
    sequence.Adopt(g_ring0.TrainCount, g_ring0.LastEdgeTime);
    line.SetPrevStatus(g_ring0.Train.PrevStatus());
  } else {
    count = 0;
    platform_.message_boxes.Show(kRing0SwitchErrorText, kRing0SwitchErrorCaption, platform::kMbOk);
  }
  train.LastEdgeIndex = count - 1;
  train.TicksPerSecond = ticks_per_second;
}

}  // namespace sfh56
