#pragma once
// The privileged instructions of the ring-0 routine, emulated in user mode: a vectored
// exception handler answers `in al, dx` from a waveform of modem-status bytes indexed by
// the read (not by time, so what a test checks does not depend on the machine's speed),
// and counts `cli` and `sti`, keeping the interrupt flag they would set. Everything else
// (a fault of any other kind) is left to the handlers after it.
//
// One emulator per process, installed while an EmulatedPrivilegedInstructions lives.

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace sfh56::wintest {

struct EmulatedStats {
  int64_t reads = 0;
  int64_t disables = 0;  // cli
  int64_t enables = 0;   // sti
  int64_t reads_with_interrupts_on = 0;
  uint16_t last_port = 0;
  bool interrupts_on = true;
};

namespace emulator_detail {

struct State {
  // (reads, byte): the byte answers that many reads, in order; after the last
  // segment the register holds `rest`.
  std::vector<std::pair<int64_t, uint8_t>> waveform;
  uint8_t rest = 0;
  EmulatedStats stats;
};

inline State& Emulated() {
  static State state;
  return state;
}

inline uint8_t ByteAt(const State& state, int64_t read) {
  for (const auto& [reads, byte] : state.waveform) {
    if (read < reads) return byte;
    read -= reads;
  }
  return state.rest;
}

inline LONG CALLBACK Emulate(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* context = info->ContextRecord;
#if defined(_WIN64)
  DWORD64& ip = context->Rip;
  DWORD64& accumulator = context->Rax;
  const auto port = static_cast<uint16_t>(context->Rdx);
#else
  DWORD& ip = context->Eip;
  DWORD& accumulator = context->Eax;
  const auto port = static_cast<uint16_t>(context->Edx);
#endif
  State& state = Emulated();
  switch (*reinterpret_cast<const uint8_t*>(ip)) {
    case 0xEC:  // in al, dx
      accumulator =
          (accumulator & ~static_cast<std::remove_reference_t<decltype(accumulator)>>(0xFF)) |
          ByteAt(state, state.stats.reads);
      ++state.stats.reads;
      if (state.stats.interrupts_on) ++state.stats.reads_with_interrupts_on;
      state.stats.last_port = port;
      break;
    case 0xFA:  // cli
      ++state.stats.disables;
      state.stats.interrupts_on = false;
      break;
    case 0xFB:  // sti
      ++state.stats.enables;
      state.stats.interrupts_on = true;
      break;
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
  ip += 1;
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace emulator_detail

class EmulatedPrivilegedInstructions {
 public:
  EmulatedPrivilegedInstructions(std::vector<std::pair<int64_t, uint8_t>> waveform, uint8_t rest) {
    emulator_detail::State& state = emulator_detail::Emulated();
    state = {};
    state.waveform = std::move(waveform);
    state.rest = rest;
    handler_ = AddVectoredExceptionHandler(1, &emulator_detail::Emulate);
  }
  ~EmulatedPrivilegedInstructions() { RemoveVectoredExceptionHandler(handler_); }
  EmulatedPrivilegedInstructions(const EmulatedPrivilegedInstructions&) = delete;
  EmulatedPrivilegedInstructions& operator=(const EmulatedPrivilegedInstructions&) = delete;

  bool Installed() const { return handler_ != nullptr; }
  EmulatedStats Stats() const { return emulator_detail::Emulated().stats; }

 private:
  void* handler_ = nullptr;
};

}  // namespace sfh56::wintest
