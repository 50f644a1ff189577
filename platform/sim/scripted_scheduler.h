#pragma once
// A single-threaded scheduler on the virtual clock, for replaying a capture run on the
// caller's own thread (tests and benchmarks): it jumps from one thing to happen to the
// next (device signals, scripted host requests, time-outs).

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/sim/sim_clock.h"
#include "platform/sync.h"

namespace sfh56::sim {

inline constexpr int64_t kReplayNsPerMs = 1000000;

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
    const int64_t deadline = clock_.NowNs() + int64_t{timeout_ms} * kReplayNsPerMs;
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
    const int64_t until = clock_.NowNs() + int64_t{ms} * kReplayNsPerMs;
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

}  // namespace sfh56::sim
