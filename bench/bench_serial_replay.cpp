// Replay of a long session of recorded button presses (thousands of trains) through the
// simulated serial receiver: trains handled per second of real time, and the time from
// the end of a train's capture to the delivery of its code (decode and delivery), in
// thread CPU time. Virtual time from a train's last edge to its delivery, less the
// quiet time that ends the train, is reported too.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_serial_port.h"
#include "receiver/serial_capture.h"
#include "receiver/train_assembler.h"
#include "tests/support/replay_receiver.h"
#include "tools/replay/recordings.h"

namespace {

using namespace sfh56;

constexpr int64_t kPressPauseUs = 1000000;

int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

class TimingHost : public HostServices {
 public:
  explicit TimingHost(sim::SimClock& clock) : clock_(clock) {}
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string&) override {
    cpu_ns.push_back(ThreadCpuNs() - captured_cpu_ns);
    virtual_ns.push_back(clock_.NowNs() - captured_quiet_end_ns);
  }
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return platform::RootKey::kCurrentUser; }

  int64_t captured_cpu_ns = 0;
  int64_t captured_quiet_end_ns = 0;
  std::vector<int64_t> cpu_ns;
  std::vector<int64_t> virtual_ns;

 private:
  sim::SimClock& clock_;
};

sim::PinWaveform LongSession(int rounds, int* presses_out) {
  std::ifstream in(SFH_DEFAULT_RECORDINGS);
  const auto presses = replay::ReadRecordings(in);
  sim::WaveformBuilder waveform(1000 * sim::kReplayNsPerMs);
  int count = 0;
  for (int r = 0; r < rounds; ++r) {
    for (const auto& press : presses) {
      waveform.Durations(press.durations_us).Pause(kPressPauseUs);
      ++count;
    }
  }
  *presses_out = count;
  return waveform.Build();
}

int64_t Median(std::vector<int64_t> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

void BM_SerialReplaySession(benchmark::State& state) {
  int presses = 0;
  const sim::PinWaveform waveform = LongSession(static_cast<int>(state.range(0)), &presses);
  const auto level = static_cast<uint8_t>(state.range(1));
  int64_t trains = 0;
  std::vector<int64_t> cpu_ns;
  std::vector<int64_t> virtual_ns;
  for (auto _ : state) {
    sim::SimClock clock;
    sim::ScriptedScheduler scheduler(clock);
    sim::SimSerialPorts ports(clock);
    sim::SimMessageBoxes boxes;
    TimingHost host(clock);
    sim::SimPortConfig config;
    config.waveform = waveform;
    ports.AddPort("COM1", config);
    sim::ReplayReceiver receiver(clock, scheduler, host);
    receiver.settings.PriorityLevel = level;
    receiver.on_train_captured = [&](const PulseTrain& train) {
      ++trains;
      // The train's end test fired this long after its last edge (waiting mode) or at
      // the first sample past the threshold (busy mode); the capture ended now.
      host.captured_quiet_end_ns = clock.NowNs();
      if (train.EdgeCount() > 0) {
        const int64_t last_edge_ns =
            train.Edges[train.LastEdgeIndex].Timestamp * sim::ReplayReceiver::kNsPerTick;
        const bool long_train = train.EdgeCount() >= kLongTrainEdges;
        int64_t quiet_end_ns = 0;
        if (level >= kBusyPollingPriorityLevel) {
          // Busy mode: 12.8 ms after the last edge, or 30 ms after the first.
          quiet_end_ns = long_train ? last_edge_ns + 12800000
                                    : train.Edges[0].Timestamp * sim::ReplayReceiver::kNsPerTick +
                                          30 * sim::kReplayNsPerMs;
        } else {
          quiet_end_ns =
              last_edge_ns + (long_train ? kNextWaitMs : kFirstWaitMs) * sim::kReplayNsPerMs;
        }
        host.captured_quiet_end_ns = quiet_end_ns;
      }
      host.captured_cpu_ns = ThreadCpuNs();
    };
    scheduler.OnIdle([&] { receiver.RequestTerminate(); });
    SerialCaptureState capture_state;
    RunSerialCapture(receiver.Seams(), {scheduler, ports, boxes}, capture_state);
    cpu_ns.insert(cpu_ns.end(), host.cpu_ns.begin(), host.cpu_ns.end());
    virtual_ns.insert(virtual_ns.end(), host.virtual_ns.begin(), host.virtual_ns.end());
  }
  state.SetItemsProcessed(trains);
  state.counters["presses"] = presses;
  state.counters["trains_per_run"] =
      static_cast<double>(trains) / static_cast<double>(state.iterations());
  state.counters["median_capture_to_delivery_cpu_ns"] = static_cast<double>(Median(cpu_ns));
  state.counters["median_virtual_edge_to_delivery_ns"] = static_cast<double>(Median(virtual_ns));
}
// Waiting mode (level 7): 60 rounds of 14 presses, about 3,000 trains per run. Busy mode
// (level 8) polls the simulated port once per virtual microsecond during a train, so it
// replays 4 rounds.
BENCHMARK(BM_SerialReplaySession)->Args({60, 7})->Args({4, 8})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
