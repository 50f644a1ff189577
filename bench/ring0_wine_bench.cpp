// The ring-0 routine's cost per sample under Wine, its privileged instructions emulated
// in user mode (tests/win/privileged_emulator.h): each sample is one emulated `in` and
// one read of the processor's own time-stamp counter. A run is one train on a quiet line,
// ended by the 30 ms window, so the samples a run takes give the cost of one. Prints the
// median, lowest and highest cost over the runs (default 15):
//   wine ring0_wine_bench.exe [runs]
// A second figure has the counter emulated too, on the virtual clock, where this machine
// lets the counter fault (two emulated instructions per sample).

// The platform headers come before <windows.h>, whose macros rename CreateEvent and
// ReadTimeStampCounter.
#include "platform/win32/win32_platform.h"
#include "receiver/ring0_routine.h"
#include "receiver/time_base.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/win/privileged_emulator.h"

namespace {

using sfh56::g_ring0;
using sfh56::wintest::EmulatedClock;
using sfh56::wintest::EmulatedPrivilegedInstructions;

constexpr uint8_t kDsr = 0x20;

double SecondsNow() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Microseconds per sample of one run, or a negative value when the clock asked for
// could not be had.
double OneRun(EmulatedClock clock) {
  g_ring0.Train.SetPrevStatus(kDsr);
  g_ring0.LastEdgeTime = 0;
  int64_t reads = 0;
  bool clock_held = false;
  const double start = SecondsNow();
  {
    EmulatedPrivilegedInstructions emulated({}, kDsr, clock, 1'000'000'000);
    clock_held = emulated.Clock() == clock;
    if (clock_held) sfh56::Ring0PollRoutine(g_ring0.Ring0Buffer.data());
    reads = emulated.Stats().reads;
  }
  const double elapsed = SecondsNow() - start;
  if (!clock_held || reads == 0) return -1.0;
  return elapsed * 1e6 / static_cast<double>(reads);
}

void Report(const char* name, EmulatedClock clock, int runs) {
  std::vector<double> costs;
  for (int i = 0; i < runs; ++i) {
    const double cost = OneRun(clock);
    if (cost < 0) {
      std::printf("%-44s not available here\n", name);
      return;
    }
    costs.push_back(cost);
  }
  std::sort(costs.begin(), costs.end());
  std::printf("%-44s median %.2f us/sample (lowest %.2f, highest %.2f, %d runs)\n", name,
              costs[costs.size() / 2], costs.front(), costs.back(), runs);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  sfh56::win32::Win32Platform win32;
  sfh56::TimeBase time_base(win32.counters, win32.scheduler);
  time_base.TscAvailable = time_base.HasTimeStampCounter();
  time_base.Calibrate(true);
  g_ring0.MsrPort = 0x3F8 + sfh56::kModemStatusRegister;
  g_ring0.SignalMask = kDsr;
  g_ring0.KeepInterruptsOn = true;
  std::printf("ring-0 routine under Wine (%d-bit), time-stamp counter %.0f MHz\n",
              static_cast<int>(sizeof(void*) * 8), time_base.TicksPerSecond / 1e6);
  Report("emulated in, processor's counter:", EmulatedClock::kByRead, runs);
  // On the virtual clock the run is 30001 samples whatever their real cost.
  sfh56::TimeBase(win32.counters, win32.scheduler).SetTimeBase(1'000'000'000);
  Report("emulated in and counter (virtual clock):", EmulatedClock::kVirtual, runs);
  return 0;
}
