#pragma once
// A serial capture run driven on the test's own thread: a scripted scheduler that moves
// the virtual clock from one thing to happen to the next, host requests placed at
// virtual times, and a receiver that records what the capture run tells it.

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_serial_port.h"
#include "platform/sync.h"
#include "receiver/serial_capture.h"

namespace sfh56::testing {

inline constexpr int64_t kNsPerMs = 1000000;
inline constexpr int64_t kNsPerUs = 1000;

class ScriptedEvent : public platform::Event {
 public:
  ScriptedEvent(bool manual_reset, bool initially_set)
      : manual_reset_(manual_reset), set_(initially_set) {}
  void Set() override { set_ = true; }
  void Reset() override { set_ = false; }
  bool IsSet() const { return set_; }
  bool ManualReset() const { return manual_reset_; }

 private:
  bool manual_reset_;
  bool set_;
};

// Single-threaded scheduler on the virtual clock. Waits jump to the earliest of: a
// device signal, a scripted action, the time-out. When nothing at all can happen any
// more, the idle action runs once (tests end the run with it); after that a wait fails.
class ScriptedScheduler : public platform::Scheduler {
 public:
  explicit ScriptedScheduler(sim::SimClock& clock) : clock_(clock) {}

  void At(int64_t ns, std::function<void()> action) { actions_.emplace(ns, std::move(action)); }
  void OnIdle(std::function<void()> action) { on_idle_ = std::move(action); }
  int FailedWaits() const { return failed_waits_; }

  std::unique_ptr<platform::Event> CreateEvent(bool manual_reset, bool initially_set) override {
    return std::make_unique<ScriptedEvent>(manual_reset, initially_set);
  }

  platform::WaitResult WaitAny(std::span<platform::Waitable* const> objects,
                               uint32_t timeout_ms) override {
    const bool infinite = timeout_ms == platform::kWaitInfinite;
    const int64_t deadline = clock_.NowNs() + int64_t{timeout_ms} * kNsPerMs;
    for (;;) {
      RunDueActions();
      const int64_t now = clock_.NowNs();
      for (size_t i = 0; i < objects.size(); ++i) {
        if (auto* event = dynamic_cast<ScriptedEvent*>(objects[i])) {
          if (event->IsSet()) {
            if (!event->ManualReset()) event->Reset();
            return platform::WaitResult::Signaled(static_cast<int>(i));
          }
        } else if (auto* device = dynamic_cast<sim::VirtualWaitable*>(objects[i])) {
          const auto at = device->NextSignalNs(now);
          if (at && *at <= now) {
            device->OnWaitSatisfied();
            return platform::WaitResult::Signaled(static_cast<int>(i));
          }
        }
      }
      if (!infinite && now >= deadline) return platform::WaitResult::Timeout();
      std::optional<int64_t> next;
      auto consider = [&next](int64_t t) { next = next ? std::min(*next, t) : t; };
      for (auto* object : objects) {
        if (auto* device = dynamic_cast<sim::VirtualWaitable*>(object)) {
          if (const auto at = device->NextSignalNs(now)) consider(*at);
        }
      }
      if (!actions_.empty()) consider(actions_.begin()->first);
      if (!infinite) consider(deadline);
      if (!next) {
        if (on_idle_) {
          auto action = std::move(on_idle_);
          on_idle_ = nullptr;
          action();
          continue;
        }
        ++failed_waits_;
        return platform::WaitResult::Failed();
      }
      clock_.AdvanceTo(*next);
    }
  }

  void SleepMs(uint32_t ms) override {
    const int64_t until = clock_.NowNs() + int64_t{ms} * kNsPerMs;
    while (!actions_.empty() && actions_.begin()->first <= until) {
      clock_.AdvanceTo(actions_.begin()->first);
      RunDueActions();
    }
    clock_.AdvanceTo(until);
  }

  std::unique_ptr<platform::Thread> CreateSuspendedThread(std::function<void()>) override {
    return nullptr;
  }
  int GetCurrentThreadPriority() override { return priority_; }
  void SetCurrentThreadPriority(int priority) override { priority_ = priority; }
  uint32_t GetProcessPriorityClass() override { return priority_class_; }
  void SetProcessPriorityClass(uint32_t priority_class) override {
    priority_class_ = priority_class;
  }

 private:
  void RunDueActions() {
    while (!actions_.empty() && actions_.begin()->first <= clock_.NowNs()) {
      auto action = std::move(actions_.begin()->second);
      actions_.erase(actions_.begin());
      action();
    }
  }

  sim::SimClock& clock_;
  std::multimap<int64_t, std::function<void()>> actions_;
  std::function<void()> on_idle_;
  int failed_waits_ = 0;
  int priority_ = 0;
  uint32_t priority_class_ = 0x20;
};

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
  int64_t SequenceGapTicks() const override { return static_cast<int64_t>(kTicksPerSecond) / 2; }
  int64_t TrainStartWindowTicks() const override {
    return static_cast<int64_t>(std::nearbyint(kTicksPerSecond * 0.03));
  }
  int64_t EdgeGapTicks() const override {
    return static_cast<int64_t>(std::nearbyint(kTicksPerSecond * 0.0128));
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
