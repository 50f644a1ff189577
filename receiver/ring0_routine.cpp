#include "receiver/ring0_routine.h"

namespace sfh56 {

#if defined(SFH_HAS_X86_INSTRUCTIONS)
int32_t SFH_RING0_CALL Ring0PollRoutine(void* /*argument*/) {
  platform::X86Instructions cpu;
  return PollTrain(cpu, g_ring0.Ring0EdgeCount);
}

int32_t SFH_RING0_CALL Ring0InterruptPollRoutine(void* /*argument*/) {
  platform::X86Instructions cpu;
  return PollTrain(cpu, g_ring0.Ring0IntEdgeCount);
}
#endif

int32_t SFH_RING0_CALL SimulatedRing0PollRoutine(void* machine) {
  MachineCalls calls(*static_cast<platform::PrivilegedMachine*>(machine));
  return PollTrain(calls, g_ring0.Ring0EdgeCount);
}

int32_t SFH_RING0_CALL SimulatedRing0InterruptPollRoutine(void* machine) {
  MachineCalls calls(*static_cast<platform::PrivilegedMachine*>(machine));
  return PollTrain(calls, g_ring0.Ring0IntEdgeCount);
}

}  // namespace sfh56
