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
#include "tests/support/replay_receiver.h"

namespace sfh56::testing {

using sim::ScriptedEvent;
using sim::ScriptedScheduler;

inline constexpr int64_t kNsPerMs = 1000000;
inline constexpr int64_t kNsPerUs = 1000;

// The receiver thread's side, recording acknowledgements, calibrations, every captured
// train's size and the admitted trains. Its time base is a 10 MHz counter on the
// virtual clock; its translation marks the text.
class RecordingReceiver : public sim::ReplayControl,
                          public sim::ReplayClock,
                          public CodeOutlet,
                          public Translator {
 public:
  struct Admitted {
    std::vector<EdgeRecord> edges;
    int64_t at_ns;
  };

  RecordingReceiver(sim::SimClock& clock, platform::Scheduler& scheduler)
      : ReplayControl(clock, scheduler), ReplayClock(clock), clock_(clock) {}

  CaptureSeams Seams() { return {*this, *this, settings, trains, *this}; }

  bool Open() const override { return plugin_open; }
  void Deliver(std::string_view /*code*/, const DecodedTrain& /*decoded*/) override {}
  void TrainAdmitted(const PulseTrain& train) override {
    admitted.push_back(
        {{train.Edges.begin(), train.Edges.begin() + train.EdgeCount()}, clock_.NowNs()});
    if (on_decode) on_decode(train);
  }
  void TrainCaptured(const PulseTrain& train) override {
    captured_counts.push_back(train.EdgeCount());
  }
  std::string TranslateText(const std::string& text) override { return "<" + text + ">"; }

  ReceiverSettings settings;
  TrainPipeline trains{settings, *this};
  bool plugin_open = true;
  std::vector<Admitted> admitted;
  std::vector<int> captured_counts;  // edges of every captured train, admitted or not
  std::function<void(const PulseTrain&)> on_decode;

 private:
  sim::SimClock& clock_;
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
    RunSerialCapture(receiver.Seams(), {scheduler, ports, boxes}, state);
  }
};

}  // namespace sfh56::testing
