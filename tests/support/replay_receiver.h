#pragma once
// A replayed serial capture run's receiver side, for benchmarks: a 10 MHz time base on the
// virtual clock, and admitted trains decoded and handed to a HostServices.

#include <functional>
#include <memory>
#include <string>

#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "platform/sim/scripted_scheduler.h"
#include "receiver/host_services.h"
#include "receiver/serial_capture.h"
#include "receiver/time_base.h"

namespace sfh56::sim {

// The receiver thread's side of a replayed capture run.
class ReplayReceiver : public SerialCaptureReceiver {
 public:
  static constexpr double kTicksPerSecond = 1e7;
  static constexpr int64_t kNsPerTick = 100;

  ReplayReceiver(SimClock& clock, platform::Scheduler& scheduler, HostServices& host)
      : clock_(clock),
        host_(host),
        terminate_(scheduler.CreateEvent(true, false)),
        start_(scheduler.CreateEvent(false, false)),
        stop_(scheduler.CreateEvent(false, false)) {}

  ReceiverSettings& Settings() override { return settings; }
  int64_t ReadTimestamp() override { return clock_.NowNs() / kNsPerTick; }
  void Calibrate() override {}
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
  void SetRunningAndAcknowledge(bool is_running) override { running = is_running; }
  void SetTerminated() override { terminated = true; }
  bool Terminated() const override { return terminated; }
  PulseTrain& Train() override { return train_; }
  bool PluginOpen() const override { return host_.PluginOpen(); }
  void DecodeTrain() override {
    const DecodeResult result = Decoder::Decode(train_, settings.BitMask, decoder_);
    if (result.deliver) host_.DeliverCode(std::string(result.code));
  }
  std::string TranslateText(const std::string& text) override { return host_.TranslateText(text); }
  void OnTrainCaptured() override {
    if (on_train_captured) on_train_captured(train_);
  }

  void RequestTerminate() { terminate_->Set(); }
  void RequestStop() { stop_->Set(); }

  ReceiverSettings settings;
  bool running = false;
  bool terminated = false;
  std::function<void(const PulseTrain&)> on_train_captured;

 private:
  SimClock& clock_;
  HostServices& host_;
  std::unique_ptr<platform::Event> terminate_;
  std::unique_ptr<platform::Event> start_;
  std::unique_ptr<platform::Event> stop_;
  PulseTrain train_;
  DecoderState decoder_;
};

}  // namespace sfh56::sim
