// Round trips of the host-to-receiver handshake on the simulated platform: a request
// event set by the calling thread, taken by the receiver thread, acknowledged back.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/sim/sim_platform.h"
#include "receiver/comm_thread.h"

namespace sfh56 {
namespace {

class NullHost : public HostServices {
 public:
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string&) override {}
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return platform::RootKey::kCurrentUser; }
};

// Start (opens the device-less capture run) followed by Stop (ends it): two round trips
// and one capture run per iteration.
void BM_StartThenStop(benchmark::State& state) {
  sim::SimPlatform sim;
  NullHost host;
  TCommThread receiver(sim.platform(), host);
  for (auto _ : state) {
    benchmark::DoNotOptimize(receiver.Start());
    benchmark::DoNotOptimize(receiver.Stop());
  }
  receiver.TerminateAndWait();
}
BENCHMARK(BM_StartThenStop)->UseRealTime();

// Start while capturing: one round trip answered inside the capture run.
void BM_StartWhileCapturing(benchmark::State& state) {
  sim::SimPlatform sim;
  NullHost host;
  TCommThread receiver(sim.platform(), host);
  receiver.Start();
  for (auto _ : state) benchmark::DoNotOptimize(receiver.Start());
  receiver.TerminateAndWait();
}
BENCHMARK(BM_StartWhileCapturing)->UseRealTime();

// Stop while idle: one round trip answered by the idle wait.
void BM_StopWhileIdle(benchmark::State& state) {
  sim::SimPlatform sim;
  NullHost host;
  TCommThread receiver(sim.platform(), host);
  receiver.Stop();
  for (auto _ : state) benchmark::DoNotOptimize(receiver.Stop());
  receiver.TerminateAndWait();
}
BENCHMARK(BM_StopWhileIdle)->UseRealTime();

}  // namespace
}  // namespace sfh56
