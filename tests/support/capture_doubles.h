#pragma once
// The seams of one capture run as a test drives it on its own thread: host requests from
// a script, a clock of fixed rate, a settings record, the real train pipeline with an
// outlet that records every admitted train, and translation that leaves texts alone. A test
// derives to change what it needs (the requests after the script, the outlet, the
// translation).

#include <cmath>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "receiver/capture_seams.h"

namespace sfh56::test {

class CaptureDouble : public ControlChannel,
                      public CaptureClock,
                      public CodeOutlet,
                      public Translator {
 public:
  CaptureSeams Seams() { return {*this, *this, settings, sink, *this}; }

  // Requests: the script first, then AfterScript() at every further wait.
  Wake Wait(uint32_t timeout_ms, platform::Waitable* /*device*/) override {
    ++waits;
    timeouts.push_back(timeout_ms);
    if (!script.empty()) {
      const Wake wake = script.front();
      script.pop_front();
      return wake;
    }
    return AfterScript();
  }
  virtual Wake AfterScript() { return Wake::kStop; }
  void Acknowledge(bool is_running) override {
    running = is_running;
    acks.push_back(is_running);
  }
  void SetTerminated() override { terminated = true; }
  bool Terminated() const override { return terminated; }

  int64_t ReadTimestamp() override { return 0; }
  void Calibrate() override {}
  TimeBaseThresholds Thresholds() const override {
    TimeBaseThresholds t = ThresholdsFor(std::llround(ticks_per_second));
    t.TicksPerSecond = ticks_per_second;
    return t;
  }

  bool Open() const override { return plugin_open; }
  void TrainAdmitted(const PulseTrain& admitted) override { decoded.push_back(admitted); }
  void Deliver(std::string_view /*code*/, const DecodedTrain& /*decoded*/) override {}

  std::string TranslateText(const std::string& text) override { return text; }

  std::deque<Wake> script;
  int waits = 0;
  std::vector<uint32_t> timeouts;
  std::vector<bool> acks;
  bool running = false;
  bool terminated = false;
  double ticks_per_second = 1000000.0;
  bool plugin_open = true;
  ReceiverSettings settings;
  TrainPipeline sink{settings, *this};
  PulseTrain& train = sink.Train();
  SequenceRule& sequence = sink.Sequence();
  std::vector<PulseTrain> decoded;
};

}  // namespace sfh56::test
