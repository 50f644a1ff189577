#include "platform/win32/win32_scheduler.h"

namespace sfh56::win32 {

// --- Win32Event ---------------------------------------------------------------------------

Win32Event::Win32Event(bool manual_reset, bool initially_set)
    : handle_(CreateEventA(nullptr, manual_reset ? TRUE : FALSE, initially_set ? TRUE : FALSE,
                           nullptr)) {}

void Win32Event::Set() {
  if (handle_) SetEvent(handle_.Get());
}

void Win32Event::Reset() {
  if (handle_) ResetEvent(handle_.Get());
}

// --- Win32Thread --------------------------------------------------------------------------

Win32Thread::Win32Thread(std::function<void()> body) : body_(std::move(body)) {
  handle_.Reset(CreateThread(nullptr, 0, &Win32Thread::Entry, this, CREATE_SUSPENDED, &id_));
}

Win32Thread::~Win32Thread() {
  if (!handle_) return;
  if (suspended_.exchange(false)) {
    cancelled_.store(true);
    ResumeThread(handle_.Get());
  }
  Join();
}

DWORD WINAPI Win32Thread::Entry(LPVOID self) {
  auto* thread = static_cast<Win32Thread*>(self);
  if (!thread->cancelled_.load()) thread->body_();
  return 0;
}

void Win32Thread::Resume() {
  if (handle_ && suspended_.exchange(false)) ResumeThread(handle_.Get());
}

bool Win32Thread::Finished() const {
  return handle_ && WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0;
}

void Win32Thread::SetPriority(int priority) {
  if (handle_) SetThreadPriority(handle_.Get(), priority);
}

int Win32Thread::GetPriority() const {
  return handle_ ? GetThreadPriority(handle_.Get()) : THREAD_PRIORITY_NORMAL;
}

void Win32Thread::Join() {
  if (handle_ && GetCurrentThreadId() != id_) WaitForSingleObject(handle_.Get(), INFINITE);
}

// --- Win32Scheduler -----------------------------------------------------------------------

platform::WaitResult TranslateWaitResult(DWORD result, DWORD count) {
  if (result < WAIT_OBJECT_0 + count) {
    return platform::WaitResult::Signaled(static_cast<int>(result - WAIT_OBJECT_0));
  }
  if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) {
    return {platform::WaitResult::kAbandoned, static_cast<int>(result - WAIT_ABANDONED_0)};
  }
  if (result == WAIT_TIMEOUT) return platform::WaitResult::Timeout();
  return platform::WaitResult::Failed();
}

std::unique_ptr<platform::Event> Win32Scheduler::CreateEvent(bool manual_reset,
                                                             bool initially_set) {
  return std::make_unique<Win32Event>(manual_reset, initially_set);
}

platform::WaitResult Win32Scheduler::WaitAny(std::span<platform::Waitable* const> objects,
                                             uint32_t timeout_ms) {
  if (objects.empty() || objects.size() > MAXIMUM_WAIT_OBJECTS) {
    return platform::WaitResult::Failed();
  }
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < objects.size(); ++i) {
    const auto* waitable = dynamic_cast<const HandleWaitable*>(objects[i]);
    if (waitable == nullptr || waitable->WaitHandle() == nullptr) {
      return platform::WaitResult::Failed();
    }
    handles[i] = waitable->WaitHandle();
  }
  const DWORD count = static_cast<DWORD>(objects.size());
  return TranslateWaitResult(WaitForMultipleObjects(count, handles, FALSE, timeout_ms), count);
}

void Win32Scheduler::SleepMs(uint32_t ms) {
  Sleep(ms);
}

std::unique_ptr<platform::Thread> Win32Scheduler::CreateSuspendedThread(
    std::function<void()> body) {
  return std::make_unique<Win32Thread>(std::move(body));
}

int Win32Scheduler::GetCurrentThreadPriority() {
  return GetThreadPriority(GetCurrentThread());
}

void Win32Scheduler::SetCurrentThreadPriority(int priority) {
  SetThreadPriority(GetCurrentThread(), priority);
}

uint32_t Win32Scheduler::GetProcessPriorityClass() {
  return GetPriorityClass(GetCurrentProcess());
}

void Win32Scheduler::SetProcessPriorityClass(uint32_t priority_class) {
  SetPriorityClass(GetCurrentProcess(), priority_class);
}

}  // namespace sfh56::win32
