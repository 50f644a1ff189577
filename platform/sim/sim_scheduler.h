#pragma once
// Events, waits, threads and priorities of the simulated platform.
//
// The thread made by CreateSuspendedThread is "the receiver thread": its waits and
// sleeps run on the virtual clock. A wait there reports a simulated device the moment
// the device signals (the clock jumps to it), a finite time-out moves the clock to the
// deadline at once, and only an infinite wait with no device signal coming blocks for
// real, until a host thread sets an event. Every other thread (the test, the host side)
// waits in real time, its time-outs multiplied by RealTimeScale so that tests of the
// 20 s and 30 s limits take milliseconds.
//
// While no receiver thread runs (the receiver object calibrates on the host's thread at
// construction), a sleep of any thread moves the virtual clock instead of taking real
// time: nobody else is using the clock then.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/sim_clock.h"
#include "platform/sync.h"

namespace sfh56::sim {

class SimScheduler;

class SimEvent : public platform::Event {
 public:
  SimEvent(SimScheduler& scheduler, bool manual_reset, bool initially_set);
  void Set() override;
  void Reset() override;
  // For tests: is the event signalled right now?
  bool IsSet() const;

 private:
  friend class SimScheduler;
  SimScheduler& scheduler_;
  const bool manual_reset_;
  bool set_;  // guarded by the scheduler's mutex
};

class SimThread : public platform::Thread {
 public:
  SimThread(SimScheduler& scheduler, std::function<void()> body);
  ~SimThread() override;
  void Resume() override;
  bool Suspended() const override;
  bool Finished() const override;
  void SetPriority(int priority) override;
  int GetPriority() const override;
  void Join() override;

  // Every priority the thread was given, in order (its own calls and SetPriority).
  std::vector<int> PriorityHistory() const;

 private:
  friend class SimScheduler;
  void Run();

  SimScheduler& scheduler_;
  std::function<void()> body_;
  std::thread thread_;
  std::atomic<bool> suspended_{true};
  bool finished_ = false;  // guarded by the scheduler's mutex
  mutable std::mutex priority_mutex_;
  int priority_ = 0;
  std::vector<int> priority_history_;
};

class SimScheduler : public platform::Scheduler {
 public:
  explicit SimScheduler(SimClock& clock);

  std::unique_ptr<platform::Event> CreateEvent(bool manual_reset, bool initially_set) override;
  platform::WaitResult WaitAny(std::span<platform::Waitable* const> objects,
                               uint32_t timeout_ms) override;
  void SleepMs(uint32_t ms) override;
  std::unique_ptr<platform::Thread> CreateSuspendedThread(std::function<void()> body) override;
  int GetCurrentThreadPriority() override;
  void SetCurrentThreadPriority(int priority) override;
  uint32_t GetProcessPriorityClass() override;
  void SetProcessPriorityClass(uint32_t priority_class) override;

  // Real time taken per millisecond of a host thread's wait or sleep (default 1.0).
  void SetRealTimeScale(double scale) { real_time_scale_.store(scale); }
  // Wakes waits so that they ask the simulated devices again (call after a device got a
  // new signal from outside the receiver thread).
  void Notify();
  // The process priority class at the start (default NORMAL_PRIORITY_CLASS, 0x20), and
  // every class set since, in order.
  void SetInitialProcessPriorityClass(uint32_t priority_class);
  std::vector<uint32_t> ProcessPriorityClassHistory() const;
  // The time-outs of every wait made by a thread other than the receiver thread.
  std::vector<uint32_t> HostWaitTimeouts() const;
  // How many of those ran into their time-out.
  int HostWaitsTimedOut() const;
  // Is the calling thread a receiver thread of this scheduler?
  bool OnReceiverThread() const;
  SimClock& Clock() { return clock_; }

 private:
  friend class SimEvent;
  friend class SimThread;

  // Under mutex_: the lowest signalled index, or -1. Consumes what it reports.
  int TakeSignalled(std::span<platform::Waitable* const> objects, int64_t now_ns);
  bool Supported(std::span<platform::Waitable* const> objects) const;
  platform::WaitResult WaitVirtual(std::span<platform::Waitable* const> objects,
                                   uint32_t timeout_ms);
  platform::WaitResult WaitReal(std::span<platform::Waitable* const> objects, uint32_t timeout_ms);
  std::chrono::nanoseconds ScaledRealTime(uint32_t ms) const;

  SimClock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<double> real_time_scale_{1.0};
  std::atomic<int> running_receivers_{0};
  uint32_t process_priority_class_ = 0x20;
  std::vector<uint32_t> priority_class_history_;
  std::vector<uint32_t> host_wait_timeouts_;
  int host_waits_timed_out_ = 0;
};

}  // namespace sfh56::sim
