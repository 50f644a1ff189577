#pragma once
// The privileged instructions of the ring-0 routine, emulated in user mode: a vectored
// exception handler answers `in al, dx` from a waveform of modem-status bytes, and counts
// `cli` and `sti`, keeping the interrupt flag they would set. Anything else is left to
// the handlers after it. The waveform runs on one of two clocks:
//   by read   indexed by the read; `rdtsc` is the processor's own, so what a test checks
//             must hold however long the process pauses between two reads;
//   virtual   under Wine on Linux the thread's time-stamp counter is made to fault
//             (prctl PR_SET_TSC, PR_TSC_SIGSEGV: a Linux system call that Wine lets a
//             Windows program make); the handler then answers `rdtsc` from a virtual
//             nanosecond clock that every port read and every counter read advance by
//             kVirtualCostNs, and the waveform runs on that clock. A run is then the same
//             on every machine: sample k of a run whose first counter read gave T0 reads
//             the line at, and is stamped, T0 + (k + 1) us.
//
// One emulator per process, installed while an EmulatedPrivilegedInstructions lives; the
// virtual clock holds on the thread that made it, which must also be the one that ends it.

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace sfh56::wintest {

inline constexpr int64_t kVirtualCostNs = 500;

struct EmulatedStats {
  int64_t reads = 0;
  int64_t counter_reads = 0;  // emulated rdtsc (virtual clock only)
  int64_t disables = 0;       // cli
  int64_t enables = 0;        // sti
  int64_t reads_with_interrupts_on = 0;
  uint16_t last_port = 0;
  bool interrupts_on = true;
};

enum class EmulatedClock { kByRead, kVirtual };

namespace emulator_detail {

struct State {
  // (length, byte): the byte answers for that many reads (by read) or nanoseconds
  // (virtual, from the clock's start), in order; after the last segment the register
  // holds `rest`.
  std::vector<std::pair<int64_t, uint8_t>> waveform;
  uint8_t rest = 0;
  bool virtual_clock = false;
  int64_t start_ns = 0;
  int64_t now_ns = 0;
  EmulatedStats stats;
};

inline State& Emulated() {
  static State state;
  return state;
}

inline uint8_t ByteAt(const State& state, int64_t position) {
  for (const auto& [length, byte] : state.waveform) {
    if (position < length) return byte;
    position -= length;
  }
  return state.rest;
}

inline LONG CALLBACK Emulate(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* context = info->ContextRecord;
#if defined(_WIN64)
  DWORD64& ip = context->Rip;
  DWORD64& accumulator = context->Rax;
  DWORD64& data = context->Rdx;
#else
  DWORD& ip = context->Eip;
  DWORD& accumulator = context->Eax;
  DWORD& data = context->Edx;
#endif
  using Register = std::remove_reference_t<decltype(accumulator)>;
  State& state = Emulated();
  const auto* instruction = reinterpret_cast<const uint8_t*>(ip);
  // A faulting time-stamp-counter read is an access violation.
  if (instruction[0] == 0x0F && instruction[1] == 0x31 && state.virtual_clock) {
    accumulator = static_cast<uint32_t>(state.now_ns);
    data = static_cast<uint32_t>(static_cast<uint64_t>(state.now_ns) >> 32);
    state.now_ns += kVirtualCostNs;
    ++state.stats.counter_reads;
    ip += 2;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (code != EXCEPTION_PRIV_INSTRUCTION) return EXCEPTION_CONTINUE_SEARCH;
  switch (instruction[0]) {
    case 0xEC: {  // in al, dx
      int64_t position = state.stats.reads;
      if (state.virtual_clock) {
        state.now_ns += kVirtualCostNs;
        position = state.now_ns - state.start_ns;
      }
      accumulator = (accumulator & ~static_cast<Register>(0xFF)) | ByteAt(state, position);
      ++state.stats.reads;
      if (state.stats.interrupts_on) ++state.stats.reads_with_interrupts_on;
      state.stats.last_port = static_cast<uint16_t>(data);
      break;
    }
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

// Linux prctl(PR_SET_TSC, mode) for the calling thread: 1 lets it read the time-stamp
// counter, 2 makes every read fault. Only meaningful under Wine, whose programs are Linux
// processes; 0 on success.
inline long SetThreadTscMode(long mode) {
  constexpr long kPrSetTsc = 26;
  long result;
#if defined(_WIN64)
  constexpr long kPrctl = 157;
  asm volatile("syscall"
               : "=a"(result)
               : "a"(kPrctl), "D"(kPrSetTsc), "S"(mode)
               : "rcx", "r11", "memory");
#else
  constexpr long kPrctl = 172;
  asm volatile("int $0x80" : "=a"(result) : "a"(kPrctl), "b"(kPrSetTsc), "c"(mode) : "memory");
#endif
  return result;
}

inline bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Whether this thread's time-stamp counter reads now reach the handler.
inline bool CounterFaults() {
  const int64_t before = Emulated().stats.counter_reads;
  uint32_t low;
  uint32_t high;
  asm volatile("rdtsc" : "=a"(low), "=d"(high));
  (void)low;
  (void)high;
  return Emulated().stats.counter_reads != before;
}

}  // namespace emulator_detail

class EmulatedPrivilegedInstructions {
 public:
  // With EmulatedClock::kVirtual the clock starts at start_ns, if the thread's counter
  // can be made to fault here; Clock() tells which clock is in force.
  EmulatedPrivilegedInstructions(std::vector<std::pair<int64_t, uint8_t>> waveform, uint8_t rest,
                                 EmulatedClock clock = EmulatedClock::kByRead,
                                 int64_t start_ns = 0) {
    emulator_detail::State& state = emulator_detail::Emulated();
    state = {};
    state.waveform = std::move(waveform);
    state.rest = rest;
    state.start_ns = start_ns;
    state.now_ns = start_ns;
    handler_ = AddVectoredExceptionHandler(1, &emulator_detail::Emulate);
    if (clock == EmulatedClock::kVirtual && handler_ != nullptr && emulator_detail::UnderWine()) {
      state.virtual_clock = true;
      if (emulator_detail::SetThreadTscMode(2) != 0) {
        state.virtual_clock = false;
      } else if (!emulator_detail::CounterFaults()) {
        // Some virtual machines accept the request but let the counter run on: the
        // waveform would then stand still while the routine's real counter ends the train.
        emulator_detail::SetThreadTscMode(1);
        state.virtual_clock = false;
      }
      state.now_ns = start_ns;
      state.stats = {};
    }
  }
  ~EmulatedPrivilegedInstructions() {
    if (emulator_detail::Emulated().virtual_clock) emulator_detail::SetThreadTscMode(1);
    emulator_detail::Emulated().virtual_clock = false;
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
  }
  EmulatedPrivilegedInstructions(const EmulatedPrivilegedInstructions&) = delete;
  EmulatedPrivilegedInstructions& operator=(const EmulatedPrivilegedInstructions&) = delete;

  bool Installed() const { return handler_ != nullptr; }
  EmulatedClock Clock() const {
    return emulator_detail::Emulated().virtual_clock ? EmulatedClock::kVirtual
                                                     : EmulatedClock::kByRead;
  }
  EmulatedStats Stats() const { return emulator_detail::Emulated().stats; }

 private:
  void* handler_ = nullptr;
};

}  // namespace sfh56::wintest
