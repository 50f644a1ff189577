#include "platform/sim/sim_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <vector>

#include "platform/sim/sim_counters.h"
#include "tests/support/scheduler_contract.h"

namespace sfh56::test {
namespace {

// The rules every scheduler keeps, against the simulated one.
struct SimSchedulerFactory {
  sim::SimClock clock;
  sim::SimScheduler sim_scheduler{clock};
  platform::Scheduler& scheduler() { return sim_scheduler; }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, SchedulerContract, ::testing::Types<SimSchedulerFactory>);

}  // namespace
}  // namespace sfh56::test

namespace sfh56::sim {
namespace {

using platform::kWaitInfinite;
using platform::Waitable;
using platform::WaitResult;
constexpr int64_t kMs = 1'000'000;

// A device that signals at fixed virtual times; each wait that reports it uses one.
class ScheduledDevice : public VirtualWaitable {
 public:
  explicit ScheduledDevice(std::vector<int64_t> at_ns) : at_ns_(std::move(at_ns)) {}
  std::optional<int64_t> NextSignalNs(int64_t now_ns) override {
    if (next_ >= at_ns_.size()) return std::nullopt;
    return std::max(at_ns_[next_], now_ns);
  }
  void OnWaitSatisfied() override { ++next_; }

 private:
  std::vector<int64_t> at_ns_;
  size_t next_ = 0;
};

class SimSchedulerTest : public ::testing::Test {
 protected:
  // Runs body on a receiver thread of the scheduler and waits for its end.
  void OnReceiver(std::function<void()> body) {
    auto thread = scheduler_.CreateSuspendedThread(std::move(body));
    thread->Resume();
    thread->Join();
  }
  SimClock clock_;
  SimScheduler scheduler_{clock_};
};

TEST_F(SimSchedulerTest, HostWaitsTimeOutInScaledRealTimeAndAreRecorded) {
  scheduler_.SetRealTimeScale(0.001);
  auto event = scheduler_.CreateEvent(true, false);
  Waitable* objects[] = {event.get()};
  EXPECT_EQ(scheduler_.WaitAny(objects, 20000).kind, WaitResult::kTimeout);
  EXPECT_EQ(scheduler_.HostWaitTimeouts(), std::vector<uint32_t>{20000});
  EXPECT_EQ(clock_.NowNs(), 0) << "host waits leave virtual time alone";
}

TEST_F(SimSchedulerTest, ReceiverWaitJumpsToTheDeviceSignal) {
  ScheduledDevice device({5 * kMs, 40 * kMs});
  auto event = scheduler_.CreateEvent(false, false);
  std::vector<WaitResult> results;
  std::vector<int64_t> times;
  OnReceiver([&] {
    Waitable* objects[] = {event.get(), &device};
    for (uint32_t timeout : {10u, 10u, kWaitInfinite}) {
      results.push_back(scheduler_.WaitAny(objects, timeout));
      times.push_back(clock_.NowNs());
    }
  });
  EXPECT_TRUE(results[0].Is(1));
  EXPECT_EQ(times[0], 5 * kMs);
  EXPECT_EQ(results[1].kind, WaitResult::kTimeout);
  EXPECT_EQ(times[1], 15 * kMs) << "a finite time-out moves the clock to its deadline";
  EXPECT_TRUE(results[2].Is(1));
  EXPECT_EQ(times[2], 40 * kMs);
  EXPECT_TRUE(scheduler_.HostWaitTimeouts().empty());
}

TEST_F(SimSchedulerTest, EarlierDeviceSignalWinsOverLowerIndexLaterOne) {
  ScheduledDevice late({9 * kMs});
  ScheduledDevice early({2 * kMs});
  WaitResult result;
  OnReceiver([&] {
    Waitable* objects[] = {&late, &early};
    result = scheduler_.WaitAny(objects, kWaitInfinite);
  });
  EXPECT_TRUE(result.Is(1));
  EXPECT_EQ(clock_.NowNs(), 2 * kMs);
}

TEST_F(SimSchedulerTest, InfiniteReceiverWaitBlocksUntilAHostSetsAnEvent) {
  auto stop = scheduler_.CreateEvent(false, false);
  std::atomic<bool> waiting{false};
  WaitResult result;
  auto thread = scheduler_.CreateSuspendedThread([&] {
    Waitable* objects[] = {stop.get()};
    waiting = true;
    result = scheduler_.WaitAny(objects, kWaitInfinite);
  });
  thread->Resume();
  while (!waiting) std::this_thread::yield();
  EXPECT_FALSE(thread->Finished());
  stop->Set();
  thread->Join();
  EXPECT_TRUE(result.Is(0));
  EXPECT_FALSE(dynamic_cast<SimEvent*>(stop.get())->IsSet()) << "auto-reset by the wait";
}

TEST_F(SimSchedulerTest, SleepIsVirtualOnTheReceiverAndWhileNoReceiverRuns) {
  OnReceiver([&] { scheduler_.SleepMs(200); });
  EXPECT_EQ(clock_.NowNs(), 200 * kMs);
  scheduler_.SleepMs(100);  // no receiver running: construction-time calibration
  EXPECT_EQ(clock_.NowNs(), 300 * kMs);
}

TEST_F(SimSchedulerTest, PausePointHoldsTheReceiverAtTheChosenInstant) {
  std::atomic<int> sleeps{0};
  clock_.PauseAt(5 * kMs + 500'000);
  auto thread = scheduler_.CreateSuspendedThread([&] {
    for (int i = 0; i < 10; ++i) {
      scheduler_.SleepMs(1);
      ++sleeps;
    }
  });
  thread->Resume();
  clock_.WaitUntilPaused();
  EXPECT_EQ(clock_.NowNs(), 5 * kMs + 500'000);
  EXPECT_EQ(sleeps.load(), 5);
  clock_.Resume();
  thread->Join();
  EXPECT_EQ(clock_.NowNs(), 10 * kMs);
}

TEST_F(SimSchedulerTest, PrioritiesAreRecorded) {
  scheduler_.SetInitialProcessPriorityClass(0x20);
  scheduler_.SetProcessPriorityClass(0x100);
  EXPECT_EQ(scheduler_.GetProcessPriorityClass(), 0x100u);
  EXPECT_EQ(scheduler_.ProcessPriorityClassHistory(), std::vector<uint32_t>{0x100});
  int seen = 0;
  auto thread = scheduler_.CreateSuspendedThread([&] {
    seen = scheduler_.GetCurrentThreadPriority();
    scheduler_.SetCurrentThreadPriority(-15);
  });
  thread->SetPriority(15);
  thread->Resume();
  thread->Join();
  EXPECT_EQ(seen, 15);
  EXPECT_EQ(thread->GetPriority(), -15);
  scheduler_.SetCurrentThreadPriority(2);  // a host thread keeps its own
  EXPECT_EQ(scheduler_.GetCurrentThreadPriority(), 2);
}

TEST(SimCounters, ReadsFollowTheClockAndCostTime) {
  SimClock clock;
  SimCounters counters(clock);
  clock.AdvanceTo(3'000'000'000'000);  // 3000 s: the 128-bit product matters
  EXPECT_EQ(counters.ReadPerformanceCounter(), 30'000'000'000);
  EXPECT_EQ(clock.NowNs(), 3'000'000'001'000);
  EXPECT_EQ(counters.ReadTimeStampCounter(), 7'200'000'002'400);
  counters.SetHasTimeStampCounter(false);
  EXPECT_FALSE(counters.HasTimeStampCounter());
  EXPECT_EQ(counters.ReadTimeStampCounter(), 0);
}

}  // namespace
}  // namespace sfh56::sim
