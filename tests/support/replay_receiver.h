#pragma once
// The receiver's side of a serial capture run replayed on the caller's thread with the
// scripted scheduler (tests and benchmarks): the host's requests as three scripted
// events, a 10 MHz time base on the virtual clock, and, for the benchmarks, a receiver
// whose admitted trains are decoded and delivered to a HostServices as the receiver
// thread does it.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/receiver_settings.h"
#include "decode/service_log.h"
#include "platform/sim/scripted_scheduler.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_files.h"
#include "receiver/capture_seams.h"
#include "receiver/code_delivery.h"
#include "receiver/host_services.h"
#include "receiver/time_base.h"

namespace sfh56::sim {

// Host requests as three events of the scheduler; every acknowledgement is recorded
// with its virtual time.
class ReplayControl : public ControlChannel {
 public:
  struct Ack {
    bool running;
    int64_t at_ns;
  };

  ReplayControl(SimClock& clock, platform::Scheduler& scheduler)
      : control_clock_(clock),
        scheduler_(scheduler),
        terminate_(scheduler.CreateEvent(true, false)),
        start_(scheduler.CreateEvent(false, false)),
        stop_(scheduler.CreateEvent(false, false)) {}

  Wake Wait(uint32_t timeout_ms, platform::Waitable* device) override {
    return WaitForWake(scheduler_, {*terminate_, *start_, *stop_}, device, timeout_ms);
  }
  void Acknowledge(bool is_running) override {
    running = is_running;
    acks.push_back({is_running, control_clock_.NowNs()});
  }
  void SetTerminated() override { terminated = true; }
  bool Terminated() const override { return terminated; }

  void RequestTerminate() { terminate_->Set(); }
  void RequestStart() { start_->Set(); }
  void RequestStop() { stop_->Set(); }

  bool running = false;
  bool terminated = false;
  std::vector<Ack> acks;

 private:
  SimClock& control_clock_;
  platform::Scheduler& scheduler_;
  std::unique_ptr<platform::Event> terminate_;
  std::unique_ptr<platform::Event> start_;
  std::unique_ptr<platform::Event> stop_;
};

// A 10 MHz time base on the virtual clock, with the receiver's own thresholds for that
// rate; calibrations are recorded with their virtual time.
class ReplayClock : public CaptureClock {
 public:
  static constexpr double kTicksPerSecond = 1e7;
  static constexpr int64_t kNsPerTick = 100;

  explicit ReplayClock(SimClock& clock) : time_clock_(clock) {}

  int64_t ReadTimestamp() override { return time_clock_.NowNs() / kNsPerTick; }
  void Calibrate() override { calibrations.push_back(time_clock_.NowNs()); }
  TimeBaseThresholds Thresholds() const override {
    return ThresholdsFor(static_cast<int64_t>(kTicksPerSecond));
  }

  std::vector<int64_t> calibrations;

 private:
  SimClock& time_clock_;
};

// A replayed receiver that decodes admitted trains and delivers their codes to a host
// through the receiver's own train pipeline and delivery.
class ReplayReceiver : public ReplayControl,
                       public ReplayClock,
                       public CodeOutlet,
                       public Translator {
 public:
  ReplayReceiver(SimClock& clock, platform::Scheduler& scheduler, HostServices& host)
      : ReplayControl(clock, scheduler),
        ReplayClock(clock),
        host_(host),
        delivery_(host, delivering_) {}

  CaptureSeams Seams() { return {*this, *this, settings, trains, *this}; }

  bool Open() const override { return host_.PluginOpen(); }
  void Deliver(std::string_view code, const DecodedTrain& /*decoded*/) override {
    delivery_.Deliver(std::string(code));
  }
  void TrainCaptured(const PulseTrain& train) override {
    if (on_train_captured) on_train_captured(train);
  }
  std::string TranslateText(const std::string& text) override { return host_.TranslateText(text); }

  ReceiverSettings settings;
  TrainPipeline trains{settings, *this, &log_};
  std::function<void(const PulseTrain&)> on_train_captured;

 private:
  HostServices& host_;
  SimFiles files_;  // the service log's, when ServiceMode is set
  ServiceLogWriter log_{files_};
  DeliveringFlag delivering_;
  CodeDelivery delivery_;
};

}  // namespace sfh56::sim
