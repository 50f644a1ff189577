// The Win32 scheduler and counters, and the receiver thread's handshake on them.
#include "platform/win32/win32_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/win32/win32_counters.h"
#include "platform/win32/win32_platform.h"
#include "receiver/comm_thread.h"

namespace sfh56::win32 {
namespace {

using platform::kWaitInfinite;
using platform::Waitable;
using platform::WaitResult;

TEST(Win32Scheduler, LowestSignalledIndexWinsAndAutoResetEventsAreConsumed) {
  Win32Scheduler scheduler;
  auto manual = scheduler.CreateEvent(true, false);
  auto automatic = scheduler.CreateEvent(false, false);
  auto idle = scheduler.CreateEvent(false, false);
  Waitable* objects[] = {idle.get(), automatic.get(), manual.get()};
  manual->Set();
  automatic->Set();
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(1));
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(2)) << "auto-reset event was consumed";
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(2)) << "manual-reset event stays set";
  manual->Reset();
  EXPECT_EQ(scheduler.WaitAny(objects, 0).kind, WaitResult::kTimeout);
  EXPECT_EQ(scheduler.WaitAny(objects, 20).kind, WaitResult::kTimeout);
}

TEST(Win32Scheduler, InitiallySetEventAndForeignObjects) {
  Win32Scheduler scheduler;
  auto event = scheduler.CreateEvent(true, true);
  Waitable* objects[] = {event.get()};
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(0));
  struct Foreign : Waitable {
  } foreign;
  Waitable* foreign_objects[] = {&foreign};
  EXPECT_EQ(scheduler.WaitAny(foreign_objects, 0).kind, WaitResult::kFailed);
  EXPECT_EQ(scheduler.WaitAny({}, 0).kind, WaitResult::kFailed);
}

TEST(Win32Scheduler, ThreadStartsSuspendedAndSignalsItsEnd) {
  Win32Scheduler scheduler;
  std::atomic<int> priority_seen{0};
  std::atomic<bool> ran{false};
  auto thread = scheduler.CreateSuspendedThread([&] {
    priority_seen = scheduler.GetCurrentThreadPriority();
    ran = true;
  });
  thread->SetPriority(platform::priority::kTimeCritical);
  Waitable* objects[] = {thread.get()};
  EXPECT_TRUE(thread->Suspended());
  EXPECT_EQ(scheduler.WaitAny(objects, 0).kind, WaitResult::kTimeout);
  EXPECT_FALSE(ran.load());
  thread->Resume();
  EXPECT_TRUE(scheduler.WaitAny(objects, kWaitInfinite).Is(0));
  EXPECT_TRUE(thread->Finished());
  EXPECT_TRUE(ran.load());
  EXPECT_EQ(priority_seen.load(), platform::priority::kTimeCritical);
}

TEST(Win32Scheduler, ANeverResumedThreadIsReleasedWithoutRunning) {
  Win32Scheduler scheduler;
  std::atomic<bool> ran{false};
  {
    auto thread = scheduler.CreateSuspendedThread([&] { ran = true; });
  }
  EXPECT_FALSE(ran.load());
}

TEST(Win32Scheduler, ProcessPriorityClassIsReadAndSet) {
  Win32Scheduler scheduler;
  const uint32_t original = scheduler.GetProcessPriorityClass();
  EXPECT_NE(original, 0u);
  scheduler.SetProcessPriorityClass(0x80);  // high
  EXPECT_EQ(scheduler.GetProcessPriorityClass(), 0x80u);
  scheduler.SetProcessPriorityClass(original);
  EXPECT_EQ(scheduler.GetProcessPriorityClass(), original);
}

TEST(Win32Scheduler, WaitResultsTranslate) {
  EXPECT_TRUE(TranslateWaitResult(WAIT_OBJECT_0 + 2, 3).Is(2));
  EXPECT_EQ(TranslateWaitResult(WAIT_ABANDONED_0 + 1, 3).kind, WaitResult::kAbandoned);
  EXPECT_EQ(TranslateWaitResult(WAIT_ABANDONED_0 + 1, 3).index, 1);
  EXPECT_EQ(TranslateWaitResult(WAIT_TIMEOUT, 3).kind, WaitResult::kTimeout);
  EXPECT_EQ(TranslateWaitResult(WAIT_FAILED, 3).kind, WaitResult::kFailed);
  EXPECT_EQ(TranslateWaitResult(WAIT_OBJECT_0 + 3, 3).kind, WaitResult::kFailed);
}

TEST(Win32Counters, CountersRunForward) {
  Win32Counters counters;
  EXPECT_GT(counters.PerformanceFrequency(), 0);
  const int64_t p0 = counters.ReadPerformanceCounter();
  Sleep(2);
  EXPECT_GT(counters.ReadPerformanceCounter(), p0);
  ASSERT_TRUE(counters.HasTimeStampCounter()) << "every x86-64 processor has one";
  const int64_t t0 = counters.ReadTimeStampCounter();
  Sleep(2);
  EXPECT_GT(counters.ReadTimeStampCounter(), t0);
}

TEST(HandleOwner, ClosesOnceAndMoves) {
  HandleOwner a(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(a);
  HANDLE raw = a.Get();
  HandleOwner b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.Get(), raw);
  HandleOwner c;
  c = std::move(b);
  EXPECT_EQ(c.Get(), raw);
  c.Reset();
  EXPECT_FALSE(c);
  // CreateFileA's failure value is no handle either: nothing to close.
  HandleOwner failed(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(failed);
}

class QuietHost : public HostServices {
 public:
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string&) override {}
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return platform::RootKey::kCurrentUser; }
};

TEST(Win32Receiver, StartStopTerminateCycle) {
  Win32Platform win;
  QuietHost host;
  const uint32_t original_class = win.scheduler.GetProcessPriorityClass();
  auto receiver = std::make_unique<TCommThread>(win.platform(), host);
  // The handshake alone: no port behind the capture run (a real one would show a box).
  receiver->SetSerialCapture(std::make_unique<NoDeviceCaptureRun>());
  EXPECT_TRUE(receiver->Time().TscAvailable);
  EXPECT_GT(receiver->Time().TicksPerSecond, 0.0);
  EXPECT_TRUE(receiver->Stop()) << "idle: acknowledged at once";
  EXPECT_TRUE(receiver->Start()) << "a capture run with no device opens nothing";
  EXPECT_TRUE(receiver->Running());
  EXPECT_TRUE(receiver->Start());
  EXPECT_TRUE(receiver->Stop());
  EXPECT_FALSE(receiver->Running());
  EXPECT_TRUE(receiver->Stop()) << "the idle wait acknowledges; the class is restored";
  EXPECT_EQ(win.scheduler.GetProcessPriorityClass(), original_class);
  EXPECT_TRUE(receiver->Start());
  EXPECT_TRUE(receiver->TerminateAndWait());
  receiver.reset();
}

TEST(Win32Receiver, CloseOfANeverStartedReceiver) {
  Win32Platform win;
  QuietHost host;
  TCommThread receiver(win.platform(), host);
  EXPECT_TRUE(receiver.TerminateAndWait());
}

TEST(Win32Receiver, DestroyingANeverResumedReceiver) {
  Win32Platform win;
  QuietHost host;
  { TCommThread receiver(win.platform(), host); }
  SUCCEED();
}

}  // namespace
}  // namespace sfh56::win32
