#pragma once
// Events, waits, the receiver thread and priorities through the Win32 kernel objects.

#include <windows.h>
// The interface names CreateEvent; the Win32 macro of that name would rename it here.
#undef CreateEvent

#include <atomic>
#include <functional>
#include <memory>

#include "platform/sync.h"
#include "platform/win32/handle_owner.h"

namespace sfh56::win32 {

// A waitable object backed by a kernel handle. Every Waitable handed to
// Win32Scheduler::WaitAny implements it (events, threads, a serial port's comm-event
// wait).
class HandleWaitable {
 public:
  virtual ~HandleWaitable() = default;
  virtual HANDLE WaitHandle() const = 0;
};

class Win32Event : public platform::Event, public HandleWaitable {
 public:
  Win32Event(bool manual_reset, bool initially_set);
  void Set() override;
  void Reset() override;
  HANDLE WaitHandle() const override { return handle_.Get(); }

 private:
  HandleOwner handle_;
};

// A thread created suspended. Destroying one that never ran releases it without running
// its body; destroying one that runs waits for its end.
class Win32Thread : public platform::Thread, public HandleWaitable {
 public:
  explicit Win32Thread(std::function<void()> body);
  ~Win32Thread() override;
  void Resume() override;
  bool Suspended() const override { return suspended_.load(); }
  bool Finished() const override;
  void SetPriority(int priority) override;
  int GetPriority() const override;
  void Join() override;
  HANDLE WaitHandle() const override { return handle_.Get(); }

 private:
  static DWORD WINAPI Entry(LPVOID self);

  std::function<void()> body_;
  std::atomic<bool> suspended_{true};
  std::atomic<bool> cancelled_{false};
  DWORD id_ = 0;
  HandleOwner handle_;
};

// The platform's result of WaitForMultipleObjects, as a WaitResult.
platform::WaitResult TranslateWaitResult(DWORD result, DWORD count);

class Win32Scheduler : public platform::Scheduler {
 public:
  std::unique_ptr<platform::Event> CreateEvent(bool manual_reset, bool initially_set) override;
  // Fails for more than MAXIMUM_WAIT_OBJECTS objects or an object without a handle.
  platform::WaitResult WaitAny(std::span<platform::Waitable* const> objects,
                               uint32_t timeout_ms) override;
  void SleepMs(uint32_t ms) override;
  std::unique_ptr<platform::Thread> CreateSuspendedThread(std::function<void()> body) override;
  int GetCurrentThreadPriority() override;
  void SetCurrentThreadPriority(int priority) override;
  uint32_t GetProcessPriorityClass() override;
  void SetProcessPriorityClass(uint32_t priority_class) override;
};

}  // namespace sfh56::win32
