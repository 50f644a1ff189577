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
  // The flags go through a register. The compiler's flag built-ins may address their
  // operand from the stack pointer, and a push takes such an address before it moves the
  // pointer: the 32-bit build then restored the flags from the wrong stack slot. Linux's
  // 64-bit convention lets a leaf function keep data below the stack pointer, where a
  // push would write, so the native build (which never runs the routine at ring 0)
  // keeps the built-ins.
  static uintptr_t SaveFlags() {
#if defined(__x86_64__) && !defined(_WIN64)
    return __builtin_ia32_readeflags_u64();
#else
    uintptr_t flags;
    asm volatile("pushf\n\tpop %0" : "=r"(flags)::"memory");
    return flags;
#endif
  }
  static void RestoreFlags(uintptr_t flags) {
#if defined(__x86_64__) && !defined(_WIN64)
    __builtin_ia32_writeeflags_u64(flags);
#else
    asm volatile("push %0\n\tpopf" ::"r"(flags) : "memory", "cc");
#endif
  }
};

}  // namespace sfh56::platform

#endif
