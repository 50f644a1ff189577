#include "platform/win32/win32_counters.h"

#include <cpuid.h>
#include <x86intrin.h>

namespace sfh56::win32 {
namespace {

// Whether the processor implements CPUID. Every x86-64 processor does; a 32-bit one
// does when the ID flag of EFLAGS can be toggled.
bool HasCpuid() {
#if defined(__x86_64__)
  return true;
#elif defined(__i386__)
  uint32_t original = 0;
  uint32_t toggled = 0;
  __asm__ volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      : "=&r"(original), "=&r"(toggled)
      : "i"(kEflagsId)
      : "cc");
  return ((original ^ toggled) & kEflagsId) != 0;
#else
  return false;
#endif
}

}  // namespace

int64_t Win32Counters::ReadPerformanceCounter() {
  LARGE_INTEGER value;
  if (!QueryPerformanceCounter(&value)) return 0;
  return value.QuadPart;
}

int64_t Win32Counters::PerformanceFrequency() {
  LARGE_INTEGER value;
  if (!QueryPerformanceFrequency(&value)) return 0;
  return value.QuadPart;
}

bool Win32Counters::HasTimeStampCounter() {
  if (!HasCpuid()) return false;
  unsigned int eax = 0;
  unsigned int ebx = 0;
  unsigned int ecx = 0;
  unsigned int edx = 0;
  __cpuid(1, eax, ebx, ecx, edx);
  return (edx & kCpuidEdxTsc) != 0;
}

int64_t Win32Counters::ReadTimeStampCounter() {
  return static_cast<int64_t>(__rdtsc());
}

}  // namespace sfh56::win32
