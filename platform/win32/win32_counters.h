#pragma once
// The performance counter (QueryPerformanceCounter) and the processor's time-stamp
// counter (RDTSC), with the processor identification that tells whether the latter
// exists.

#include <windows.h>
// The interface names ReadTimeStampCounter; the Win32 macro of that name would rename it.
#undef ReadTimeStampCounter

#include <cstdint>

#include "platform/counters.h"

namespace sfh56::win32 {

// CPUID function 1 reports a time-stamp counter in bit 4 of EDX.
inline constexpr uint32_t kCpuidEdxTsc = 1u << 4;
// The identification flag of EFLAGS: a processor that lets it toggle has CPUID.
inline constexpr uint32_t kEflagsId = 1u << 21;

class Win32Counters : public platform::Counters {
 public:
  int64_t ReadPerformanceCounter() override;
  int64_t PerformanceFrequency() override;
  bool HasTimeStampCounter() override;
  int64_t ReadTimeStampCounter() override;
};

}  // namespace sfh56::win32
