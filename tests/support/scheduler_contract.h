#pragma once
// The rules every Scheduler keeps, as one typed suite run against each implementation
// (the simulated one natively, the Win32 one under Wine). Instantiate with a factory
// type that is default-constructible and offers platform::Scheduler& scheduler():
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Sim, SchedulerContract, ::testing::Types<Factory>);
//
// Waits from the test's own thread are host-side waits: on the simulated platform they
// take real time, like the Win32 ones.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "platform/sync.h"

namespace sfh56::test {

template <typename Factory>
class SchedulerContract : public ::testing::Test {
 protected:
  platform::Scheduler& scheduler() { return factory_.scheduler(); }

 private:
  Factory factory_;
};

TYPED_TEST_SUITE_P(SchedulerContract);

TYPED_TEST_P(SchedulerContract, LowestSignalledIndexWinsAndAutoResetEventsAreConsumed) {
  platform::Scheduler& scheduler = this->scheduler();
  auto manual = scheduler.CreateEvent(true, false);
  auto automatic = scheduler.CreateEvent(false, false);
  auto other = scheduler.CreateEvent(false, false);
  platform::Waitable* objects[] = {other.get(), automatic.get(), manual.get()};
  manual->Set();
  automatic->Set();
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(1));
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(2)) << "auto-reset event was consumed";
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(2)) << "manual-reset event stays set";
  manual->Reset();
  EXPECT_EQ(scheduler.WaitAny(objects, 0).kind, platform::WaitResult::kTimeout);
  EXPECT_EQ(scheduler.WaitAny(objects, 20).kind, platform::WaitResult::kTimeout);
}

TYPED_TEST_P(SchedulerContract, InitiallySetEventAndWaitsOnNothingOrOnForeignObjects) {
  platform::Scheduler& scheduler = this->scheduler();
  auto event = scheduler.CreateEvent(true, true);
  platform::Waitable* objects[] = {event.get()};
  EXPECT_TRUE(scheduler.WaitAny(objects, 0).Is(0));
  struct Foreign : platform::Waitable {
  } foreign;
  platform::Waitable* foreign_objects[] = {&foreign};
  EXPECT_EQ(scheduler.WaitAny(foreign_objects, 0).kind, platform::WaitResult::kFailed);
  EXPECT_EQ(scheduler.WaitAny({}, 0).kind, platform::WaitResult::kFailed);
}

TYPED_TEST_P(SchedulerContract, ThreadStartsSuspendedAndSignalsItsEnd) {
  platform::Scheduler& scheduler = this->scheduler();
  std::atomic<int> priority_seen{0};
  std::atomic<bool> ran{false};
  auto thread = scheduler.CreateSuspendedThread([&] {
    priority_seen = scheduler.GetCurrentThreadPriority();
    ran = true;
  });
  thread->SetPriority(platform::priority::kTimeCritical);
  platform::Waitable* objects[] = {thread.get()};
  EXPECT_TRUE(thread->Suspended());
  EXPECT_EQ(scheduler.WaitAny(objects, 0).kind, platform::WaitResult::kTimeout);
  EXPECT_FALSE(ran.load());
  thread->Resume();
  EXPECT_FALSE(thread->Suspended());
  EXPECT_TRUE(scheduler.WaitAny(objects, platform::kWaitInfinite).Is(0));
  EXPECT_TRUE(thread->Finished());
  EXPECT_TRUE(ran.load());
  EXPECT_EQ(priority_seen.load(), platform::priority::kTimeCritical);
}

TYPED_TEST_P(SchedulerContract, ANeverResumedThreadIsReleasedWithoutRunning) {
  std::atomic<bool> ran{false};
  {
    auto thread = this->scheduler().CreateSuspendedThread([&] { ran = true; });
  }
  EXPECT_FALSE(ran.load());
}

TYPED_TEST_P(SchedulerContract, ProcessPriorityClassIsReadAndSet) {
  platform::Scheduler& scheduler = this->scheduler();
  const uint32_t original = scheduler.GetProcessPriorityClass();
  EXPECT_NE(original, 0u);
  scheduler.SetProcessPriorityClass(0x80);  // high
  EXPECT_EQ(scheduler.GetProcessPriorityClass(), 0x80u);
  scheduler.SetProcessPriorityClass(original);
  EXPECT_EQ(scheduler.GetProcessPriorityClass(), original);
}

REGISTER_TYPED_TEST_SUITE_P(SchedulerContract,
                            LowestSignalledIndexWinsAndAutoResetEventsAreConsumed,
                            InitiallySetEventAndWaitsOnNothingOrOnForeignObjects,
                            ThreadStartsSuspendedAndSignalsItsEnd,
                            ANeverResumedThreadIsReleasedWithoutRunning,
                            ProcessPriorityClassIsReadAndSet);

}  // namespace sfh56::test
