#pragma once
// Events, waits, the receiver thread, sleeping and scheduling priorities.
//
// The Win32 implementation maps these one to one onto kernel objects
// (CreateEventA, WaitForMultipleObjects, CreateThread(CREATE_SUSPENDED), ...).
// The simulated implementation runs the receiver thread on a virtual clock: see
// platform/sim/sim_scheduler.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace sfh56::platform {

inline constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

// Anything a thread can wait for: an event, a thread handle, a semaphore, the
// pending comm-event wait of a serial port.
class Waitable {
 public:
  virtual ~Waitable() = default;
};

class Event : public Waitable {
 public:
  virtual void Set() = 0;
  virtual void Reset() = 0;
};

struct WaitResult {
  enum Kind { kSignaled, kTimeout, kAbandoned, kFailed };
  Kind kind = kFailed;
  int index = -1;  // for kSignaled and kAbandoned: the lowest signalled index

  static WaitResult Signaled(int i) { return {kSignaled, i}; }
  static WaitResult Timeout() { return {kTimeout, -1}; }
  static WaitResult Failed() { return {kFailed, -1}; }
  bool Is(int i) const { return kind == kSignaled && index == i; }
};

// Thread priorities and process priority classes use the Win32 values.
namespace priority {
inline constexpr int kIdle = -15;
inline constexpr int kLowest = -2;
inline constexpr int kBelowNormal = -1;
inline constexpr int kNormal = 0;
inline constexpr int kAboveNormal = 1;
inline constexpr int kHighest = 2;
inline constexpr int kTimeCritical = 15;
inline constexpr uint32_t kRealtimeClass = 0x100;
}  // namespace priority

// An operating-system thread created suspended.
class Thread : public Waitable {
 public:
  virtual void Resume() = 0;
  virtual bool Suspended() const = 0;
  virtual bool Finished() const = 0;
  virtual void SetPriority(int priority) = 0;
  virtual int GetPriority() const = 0;
  // Waits for the thread's end without limit (used only by destruction).
  virtual void Join() = 0;
};

class Scheduler {
 public:
  virtual ~Scheduler() = default;

  virtual std::unique_ptr<Event> CreateEvent(bool manual_reset, bool initially_set) = 0;
  // Waits until one of the objects is signalled or timeout_ms passed. When several are
  // signalled the lowest index is reported; an auto-reset event is reset by the wait that
  // reports it.
  virtual WaitResult WaitAny(std::span<Waitable* const> objects, uint32_t timeout_ms) = 0;
  virtual void SleepMs(uint32_t ms) = 0;

  virtual std::unique_ptr<Thread> CreateSuspendedThread(std::function<void()> body) = 0;
  // The calling thread's scheduling priority.
  virtual int GetCurrentThreadPriority() = 0;
  virtual void SetCurrentThreadPriority(int priority) = 0;
  // The process priority class (0 when it cannot be read).
  virtual uint32_t GetProcessPriorityClass() = 0;
  virtual void SetProcessPriorityClass(uint32_t priority_class) = 0;
};

}  // namespace sfh56::platform
