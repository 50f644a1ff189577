#pragma once
// A serial capture run driven on the test's own thread: the scripted scheduler moves the
// virtual clock from one thing to happen to the next, host requests are placed at
// virtual times, and a receiver records what the capture run tells it.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/scripted_scheduler.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_serial_port.h"
#include "platform/sync.h"
#include "receiver/serial_capture.h"
#include "receiver/time_base.h"

namespace sfh56::testing {

using sim::ScriptedEvent;
using sim::ScriptedScheduler;

inline constexpr int64_t kNsPerMs = 1000000;
inline constexpr int64_t kNsPerUs = 1000;

// The receiver thread's side, recording acknowledgements and admitted trains. Its time
// base is a 10 MHz counter on the virtual clock.
class RecordingReceiver : public SerialCaptureReceiver {
 public:
  struct Ack {
    bool running;
    int64_t at_ns;
  };
  struct Admitted {
    std::vector<EdgeRecord> edges;
    int64_t at_ns;
  };

  static constexpr double kTicksPerSecond = 1e7;

  RecordingReceiver(sim::SimClock& clock, platform::Scheduler& scheduler)
      : clock_(clock),
        terminate_(scheduler.CreateEvent(true, false)),
        start_(scheduler.CreateEvent(false, false)),
        stop_(scheduler.CreateEvent(false, false)) {}

  ReceiverSettings& Settings() override { return settings; }
  int64_t ReadTimestamp() override { return clock_.NowNs() / 100; }
  void Calibrate() override { calibrations.push_back(clock_.NowNs()); }
  double TicksPerSecond() const override { return kTicksPerSecond; }
  // The thresholds of the receiver's own time base at this rate.
  int64_t SequenceGapTicks() const override { return Thresholds().SequenceGapTicks; }
  int64_t TrainStartWindowTicks() const override { return Thresholds().TrainStartWindowTicks; }
  int64_t EdgeGapTicks() const override { return Thresholds().EdgeGapTicks; }
  static TimeBaseThresholds Thresholds() {
    return ThresholdsFor(static_cast<int64_t>(kTicksPerSecond));
  }
  platform::Waitable& TerminateEvent() override { return *terminate_; }
  platform::Waitable& StartEvent() override { return *start_; }
  platform::Waitable& StopEvent() override { return *stop_; }
  void SetRunningAndAcknowledge(bool is_running) override {
    running = is_running;
    acks.push_back({is_running, clock_.NowNs()});
  }
  void SetTerminated() override { terminated = true; }
  bool Terminated() const override { return terminated; }
  PulseTrain& Train() override { return train; }
  bool PluginOpen() const override { return plugin_open; }
  void DecodeTrain() override {
    admitted.push_back(
        {{train.Edges.begin(), train.Edges.begin() + train.EdgeCount()}, clock_.NowNs()});
    if (on_decode) on_decode(train);
  }
  std::string TranslateText(const std::string& text) override { return "<" + text + ">"; }
  void OnTrainCaptured() override { captured_counts.push_back(train.EdgeCount()); }

  void RequestStop() { stop_->Set(); }
  void RequestStart() { start_->Set(); }
  void RequestTerminate() { terminate_->Set(); }

  ReceiverSettings settings;
  PulseTrain train;
  bool running = false;
  bool terminated = false;
  bool plugin_open = true;
  std::vector<Ack> acks;
  std::vector<int64_t> calibrations;
  std::vector<Admitted> admitted;
  std::vector<int> captured_counts;  // edges of every captured train, admitted or not
  std::function<void(const PulseTrain&)> on_decode;

 private:
  sim::SimClock& clock_;
  std::unique_ptr<platform::Event> terminate_;
  std::unique_ptr<platform::Event> start_;
  std::unique_ptr<platform::Event> stop_;
};

// Everything one capture run needs, ended by a terminate request once nothing else can
// happen.
struct SerialRig {
  sim::SimClock clock;
  ScriptedScheduler scheduler{clock};
  sim::SimSerialPorts ports{clock};
  sim::SimMessageBoxes boxes;
  RecordingReceiver receiver{clock, scheduler};
  SerialCaptureState state;

  void AddReceiver(const std::string& name, sim::PinWaveform waveform,
                   sim::ModemLine line = sim::ModemLine::kDsr) {
    sim::SimPortConfig config;
    config.line = line;
    config.waveform = std::move(waveform);
    ports.AddPort(name, std::move(config));
  }

  void Run() {
    scheduler.OnIdle([this] { receiver.RequestTerminate(); });
    RunSerialCapture(receiver, {scheduler, ports, boxes}, state);
  }
};

}  // namespace sfh56::testing
