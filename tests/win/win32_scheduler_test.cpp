// The Win32 scheduler and counters, and the receiver thread's handshake on them.
#include "platform/win32/win32_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/win32/win32_counters.h"
#include "platform/win32/win32_platform.h"
#include "receiver/comm_thread.h"
#include "tests/support/scheduler_contract.h"

namespace sfh56::test {
namespace {

// The rules every scheduler keeps, against the Win32 one.
struct Win32SchedulerFactory {
  win32::Win32Scheduler win32_scheduler;
  platform::Scheduler& scheduler() { return win32_scheduler; }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SchedulerContract, ::testing::Types<Win32SchedulerFactory>);

}  // namespace
}  // namespace sfh56::test

namespace sfh56::win32 {
namespace {

using platform::WaitResult;

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
