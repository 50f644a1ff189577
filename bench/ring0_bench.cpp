// The ring-0 routine's cost per sample on the simulated platform: the same loop as the
// product's, over the simulated machine's primitives (a UART register whose line follows a
// waveform on the virtual clock, a simulated time-stamp counter). One iteration is one
// train over a noise burst of 40 edges, ended by the quiet time after it.
#include <benchmark/benchmark.h>

#include "platform/sim/sim_platform.h"
#include "receiver/ring0_capture.h"
#include "receiver/ring0_routine.h"
#include "receiver/time_base.h"

namespace sfh56 {
namespace {

constexpr uint16_t kBase = 0x3F8;
constexpr int64_t kMs = 1'000'000;

void BM_Ring0RoutinePerSample(benchmark::State& state) {
  sim::SimPlatform sim;
  sim.counters.SetTimeStampFrequency(1'000'000'000);
  sim.counters.SetReadCostNs(500);
  TimeBase(sim.counters, sim.scheduler).SetTimeBase(1'000'000'000);
  int64_t start = kMs;
  sim::SimPortConfig config;
  // A burst every 50 ms of virtual time, far more than one train lasts.
  sim::WaveformBuilder waveform(start);
  for (int burst = 0; burst < 2000; ++burst) waveform.Noise(200, 40).Pause(42'000);
  config.waveform = waveform.Build();
  config.io_base = kBase;
  config.register_read_cost_ns = 500;
  sim.serial_ports.AddPort("COM1", config);
  auto port = sim.serial_ports.Open("COM1");
  port->Escape(platform::EscapeFunction::kSetRts);
  port->Escape(platform::EscapeFunction::kSetDtr);
  g_ring0.MsrPort = kBase + kModemStatusRegister;
  g_ring0.SignalMask = 0x20;
  g_ring0.KeepInterruptsOn = true;
  g_ring0.Train.SetPrevStatus(0x20);
  int64_t samples = 0;
  for (auto _ : state) {
    sim.clock.AdvanceTo(start);
    const int64_t reads_before = sim.serial_ports.RegisterReads();
    benchmark::DoNotOptimize(SimulatedRing0PollRoutine(&sim.ring0.machine));
    samples += sim.serial_ports.RegisterReads() - reads_before;
    start += 50 * kMs;
  }
  state.SetItemsProcessed(samples);
  state.counters["ns_per_sample"] = benchmark::Counter(
      static_cast<double>(samples), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Ring0RoutinePerSample)->Iterations(200)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
}  // namespace sfh56

BENCHMARK_MAIN();
