#pragma once
// The processor's own instructions for a ring-0 routine: each primitive is one instruction
// (two for the flags), inline, with no call and no system service. Only meaningful at
// ring 0: in user mode `in`, `cli` and `sti` fault.

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#define SFH_HAS_X86_INSTRUCTIONS 1

namespace sfh56::platform {

struct X86Instructions {
  // in al, dx
  static uint8_t ReadPortByte(uint16_t port) {
    uint8_t value;
    asm volatile("inb %w1, %b0" : "=a"(value) : "d"(port) : "memory");
    return value;
  }
  // rdtsc
  static int64_t ReadTimeStampCounter() {
    uint32_t low;
    uint32_t high;
    asm volatile("rdtsc" : "=a"(low), "=d"(high)::"memory");
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
  }
  static void DisableInterrupts() { asm volatile("cli" ::: "memory"); }
  static void EnableInterrupts() { asm volatile("sti" ::: "memory"); }
  // The compiler's own flag accessors: an inline push would write below the stack pointer,
  // where a leaf function may keep data.
  static uintptr_t SaveFlags() {
#if defined(__x86_64__)
    return __builtin_ia32_readeflags_u64();
#else
    return __builtin_ia32_readeflags_u32();
#endif
  }
  static void RestoreFlags(uintptr_t flags) {
#if defined(__x86_64__)
    __builtin_ia32_writeeflags_u64(flags);
#else
    __builtin_ia32_writeeflags_u32(flags);
#endif
  }
};

}  // namespace sfh56::platform

#endif
