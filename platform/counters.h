#pragma once
// The two counters a time base can be built on: the operating system's
// high-resolution performance counter and the processor's time-stamp counter.

#include <cstdint>

namespace sfh56::platform {

class Counters {
 public:
  virtual ~Counters() = default;
  virtual int64_t ReadPerformanceCounter() = 0;
  virtual int64_t PerformanceFrequency() = 0;
  // The processor supports CPUID and CPUID function 1 reports a time-stamp counter.
  virtual bool HasTimeStampCounter() = 0;
  virtual int64_t ReadTimeStampCounter() = 0;
};

}  // namespace sfh56::platform
