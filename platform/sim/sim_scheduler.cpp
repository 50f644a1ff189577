#include "platform/sim/sim_scheduler.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace sfh56::sim {
namespace {

constexpr int64_t kNsPerMs = 1'000'000;
// How often a blocked wait asks the simulated devices again even when nobody calls
// Notify(): a device given a signal from a host thread is then found all the same.
constexpr auto kRecheckInterval = std::chrono::milliseconds(5);

thread_local SimThread* t_current_thread = nullptr;
thread_local int t_host_thread_priority = 0;

}  // namespace

// --- SimEvent ---------------------------------------------------------------------------

SimEvent::SimEvent(SimScheduler& scheduler, bool manual_reset, bool initially_set)
    : scheduler_(scheduler), manual_reset_(manual_reset), set_(initially_set) {}

void SimEvent::Set() {
  std::lock_guard lock(scheduler_.mutex_);
  set_ = true;
  scheduler_.changed_.notify_all();
}

void SimEvent::Reset() {
  std::lock_guard lock(scheduler_.mutex_);
  set_ = false;
}

bool SimEvent::IsSet() const {
  std::lock_guard lock(scheduler_.mutex_);
  return set_;
}

// --- SimThread --------------------------------------------------------------------------

SimThread::SimThread(SimScheduler& scheduler, std::function<void()> body)
    : scheduler_(scheduler), body_(std::move(body)) {}

SimThread::~SimThread() {
  Join();
}

void SimThread::Resume() {
  if (!suspended_.exchange(false)) return;
  ++scheduler_.running_receivers_;
  thread_ = std::thread([this] { Run(); });
}

void SimThread::Run() {
  t_current_thread = this;
  body_();
  t_current_thread = nullptr;
  std::lock_guard lock(scheduler_.mutex_);
  finished_ = true;
  --scheduler_.running_receivers_;
  scheduler_.changed_.notify_all();
}

bool SimThread::Suspended() const {
  return suspended_.load();
}

bool SimThread::Finished() const {
  std::lock_guard lock(scheduler_.mutex_);
  return finished_;
}

void SimThread::SetPriority(int priority) {
  std::lock_guard lock(priority_mutex_);
  priority_ = priority;
  priority_history_.push_back(priority);
}

int SimThread::GetPriority() const {
  std::lock_guard lock(priority_mutex_);
  return priority_;
}

std::vector<int> SimThread::PriorityHistory() const {
  std::lock_guard lock(priority_mutex_);
  return priority_history_;
}

void SimThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

// --- SimScheduler -----------------------------------------------------------------------

SimScheduler::SimScheduler(SimClock& clock) : clock_(clock) {}

std::unique_ptr<platform::Event> SimScheduler::CreateEvent(bool manual_reset, bool initially_set) {
  return std::make_unique<SimEvent>(*this, manual_reset, initially_set);
}

std::unique_ptr<platform::Thread> SimScheduler::CreateSuspendedThread(std::function<void()> body) {
  return std::make_unique<SimThread>(*this, std::move(body));
}

bool SimScheduler::OnReceiverThread() const {
  return t_current_thread != nullptr && &t_current_thread->scheduler_ == this;
}

bool SimScheduler::Supported(std::span<platform::Waitable* const> objects) const {
  if (objects.empty()) return false;
  return std::all_of(objects.begin(), objects.end(), [](platform::Waitable* object) {
    return dynamic_cast<SimEvent*>(object) != nullptr ||
           dynamic_cast<SimThread*>(object) != nullptr ||
           dynamic_cast<VirtualWaitable*>(object) != nullptr;
  });
}

int SimScheduler::TakeSignalled(std::span<platform::Waitable* const> objects, int64_t now_ns) {
  for (size_t i = 0; i < objects.size(); ++i) {
    if (auto* event = dynamic_cast<SimEvent*>(objects[i])) {
      if (event->set_) {
        if (!event->manual_reset_) event->set_ = false;
        return static_cast<int>(i);
      }
    } else if (auto* thread = dynamic_cast<SimThread*>(objects[i])) {
      if (thread->finished_) return static_cast<int>(i);
    } else if (auto* device = dynamic_cast<VirtualWaitable*>(objects[i])) {
      const std::optional<int64_t> at = device->NextSignalNs(now_ns);
      if (at && *at <= now_ns) {
        device->OnWaitSatisfied();
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

platform::WaitResult SimScheduler::WaitAny(std::span<platform::Waitable* const> objects,
                                           uint32_t timeout_ms) {
  if (!Supported(objects)) return platform::WaitResult::Failed();
  return OnReceiverThread() ? WaitVirtual(objects, timeout_ms) : WaitReal(objects, timeout_ms);
}

platform::WaitResult SimScheduler::WaitVirtual(std::span<platform::Waitable* const> objects,
                                               uint32_t timeout_ms) {
  std::optional<int64_t> deadline_ns;
  if (timeout_ms != platform::kWaitInfinite) {
    deadline_ns = clock_.NowNs() + static_cast<int64_t>(timeout_ms) * kNsPerMs;
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    const int64_t now_ns = clock_.NowNs();
    const int index = TakeSignalled(objects, now_ns);
    if (index >= 0) return platform::WaitResult::Signaled(index);

    std::optional<int64_t> next_ns;
    for (platform::Waitable* object : objects) {
      if (auto* device = dynamic_cast<VirtualWaitable*>(object)) {
        const std::optional<int64_t> at = device->NextSignalNs(now_ns);
        if (at && (!next_ns || *at < *next_ns)) next_ns = at;
      }
    }
    if (next_ns && *next_ns > now_ns && (!deadline_ns || *next_ns <= *deadline_ns)) {
      // The clock moves outside the lock: a pause point may hold this thread there, and
      // host threads must still be able to set events meanwhile.
      lock.unlock();
      clock_.AdvanceTo(*next_ns);
      lock.lock();
      continue;
    }
    if (deadline_ns) {
      if (now_ns >= *deadline_ns) return platform::WaitResult::Timeout();
      lock.unlock();
      clock_.AdvanceTo(*deadline_ns);
      lock.lock();
      continue;
    }
    changed_.wait_for(lock, kRecheckInterval);
  }
}

std::chrono::nanoseconds SimScheduler::ScaledRealTime(uint32_t ms) const {
  const double ns = static_cast<double>(ms) * 1e6 * real_time_scale_.load();
  return std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

platform::WaitResult SimScheduler::WaitReal(std::span<platform::Waitable* const> objects,
                                            uint32_t timeout_ms) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  host_wait_timeouts_.push_back(timeout_ms);
  for (;;) {
    const int index = TakeSignalled(objects, clock_.NowNs());
    if (index >= 0) return platform::WaitResult::Signaled(index);
    auto wake = std::chrono::steady_clock::now() + kRecheckInterval;
    if (timeout_ms != platform::kWaitInfinite) {
      const auto deadline = start + ScaledRealTime(timeout_ms);
      if (std::chrono::steady_clock::now() >= deadline) {
        ++host_waits_timed_out_;
        return platform::WaitResult::Timeout();
      }
      wake = std::min(wake, deadline);
    }
    changed_.wait_until(lock, wake);
  }
}

void SimScheduler::SleepMs(uint32_t ms) {
  if (OnReceiverThread() || running_receivers_.load() == 0) {
    clock_.Advance(static_cast<int64_t>(ms) * kNsPerMs);
  } else {
    std::this_thread::sleep_for(ScaledRealTime(ms));
  }
}

void SimScheduler::Notify() {
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

int SimScheduler::GetCurrentThreadPriority() {
  return OnReceiverThread() ? t_current_thread->GetPriority() : t_host_thread_priority;
}

void SimScheduler::SetCurrentThreadPriority(int priority) {
  if (OnReceiverThread()) {
    t_current_thread->SetPriority(priority);
  } else {
    t_host_thread_priority = priority;
  }
}

uint32_t SimScheduler::GetProcessPriorityClass() {
  std::lock_guard lock(mutex_);
  return process_priority_class_;
}

void SimScheduler::SetProcessPriorityClass(uint32_t priority_class) {
  std::lock_guard lock(mutex_);
  process_priority_class_ = priority_class;
  priority_class_history_.push_back(priority_class);
}

void SimScheduler::SetInitialProcessPriorityClass(uint32_t priority_class) {
  std::lock_guard lock(mutex_);
  process_priority_class_ = priority_class;
}

std::vector<uint32_t> SimScheduler::ProcessPriorityClassHistory() const {
  std::lock_guard lock(mutex_);
  return priority_class_history_;
}

int SimScheduler::HostWaitsTimedOut() const {
  std::lock_guard lock(mutex_);
  return host_waits_timed_out_;
}

std::vector<uint32_t> SimScheduler::HostWaitTimeouts() const {
  std::lock_guard lock(mutex_);
  return host_wait_timeouts_;
}

}  // namespace sfh56::sim
