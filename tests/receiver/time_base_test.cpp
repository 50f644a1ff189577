#include "receiver/time_base.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "receiver/ring0_capture.h"

namespace sfh56 {
namespace {

namespace prio = platform::priority;

// --- Arithmetic -----------------------------------------------------------------------

TEST(ThresholdsFor, ThousandAndOneTicksPerSecond) {
  const TimeBaseThresholds t = ThresholdsFor(1001);
  EXPECT_EQ(t.TicksPerSecond, 1001.0);
  EXPECT_EQ(t.SequenceGapTicks, 500) << "integer division";
  EXPECT_EQ(t.TrainStartWindowTicks, 30) << "30.03 rounded";
  EXPECT_EQ(t.EdgeGapTicks, 13) << "12.8128 rounded";
}

TEST(ThresholdsFor, PerformanceCounterAndTimeStampCounterRates) {
  const TimeBaseThresholds p = ThresholdsFor(10'000'000);
  EXPECT_EQ(p.SequenceGapTicks, 5'000'000);
  EXPECT_EQ(p.TrainStartWindowTicks, 300'000);
  EXPECT_EQ(p.EdgeGapTicks, 128'000);
  const TimeBaseThresholds t = ThresholdsFor(2'400'000'000);
  EXPECT_EQ(t.TrainStartWindowTicks, 72'000'000);
  EXPECT_EQ(t.EdgeGapTicks, 30'720'000);
}

TEST(ThresholdsFor, HalfwayWindowsRoundToEven) {
  EXPECT_EQ(ThresholdsFor(50).TrainStartWindowTicks, 2);   // 1.5
  EXPECT_EQ(ThresholdsFor(150).TrainStartWindowTicks, 4);  // 4.5
  EXPECT_EQ(ThresholdsFor(3).SequenceGapTicks, 1);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(RoundHalfEven(2.5001), 3);
  EXPECT_EQ(RoundHalfEven(7.0), 7);
}

TEST(TickRateFromReadings, KeepsTheWholeRatioOnly) {
  // A ratio of 83.9 between the counters gives 83 times the performance frequency.
  EXPECT_EQ(TickRateFromReadings(1000, 5000, 1010, 5839, 10'000'000), 830'000'000);
  EXPECT_EQ(TickRateFromReadings(0, 0, 1'000'000, 240'000'000, 10'000'000), 2'400'000'000);
}

TEST(TickRateFromReadings, StalledPerformanceCounterDoesNotDivideByZero) {
  // The time-stamp counter ran 0.1 s worth over the two 50 ms sleeps.
  EXPECT_EQ(TickRateFromReadings(7, 0, 7, 240'000'000, 10'000'000), 2'400'000'000);
  EXPECT_EQ(TickRateFromReadings(7, 0, 5, 240'000'000, 10'000'000), 2'400'000'000);
  EXPECT_EQ(TickRateFromReadings(7, 9, 7, 9, 10'000'000), 10'000'000)
      << "nothing moved: fall back to the performance-counter frequency";
}

TEST(CounterSamplesTooSlow, MeanOfTheMiddleEightyAgainstTwentyMicroseconds) {
  std::array<int64_t, kCounterSpeedSamples> samples{};
  samples.fill(200);  // 20 us at 10 MHz: not more than the limit
  EXPECT_FALSE(CounterSamplesTooSlow(samples, 10'000'000));
  samples.fill(201);
  EXPECT_TRUE(CounterSamplesTooSlow(samples, 10'000'000));
}

TEST(CounterSamplesTooSlow, TenOutliersAtEachEndAreDropped) {
  std::array<int64_t, kCounterSpeedSamples> samples{};
  samples.fill(10);
  for (int i = 0; i < 10; ++i) samples[i * 7] = 1'000'000'000;       // preempted reads
  for (int i = 0; i < 10; ++i) samples[i * 7 + 3] = -1'000'000'000;  // a counter jump
  EXPECT_FALSE(CounterSamplesTooSlow(samples, 10'000'000));
  samples[1] = 1'000'000'000;  // an eleventh slow sample reaches the middle
  EXPECT_TRUE(CounterSamplesTooSlow(samples, 10'000'000));
}

// --- On the simulated counters --------------------------------------------------------

class TimeBaseTest : public ::testing::Test {
 protected:
  TimeBase Make() {
    TimeBase t(sim_.counters, sim_.scheduler);
    t.TscAvailable = t.HasTimeStampCounter();
    return t;
  }
  sim::SimPlatform sim_;
};

TEST_F(TimeBaseTest, WithoutATimeStampCounterTheCounterIsNeverTooSlow) {
  sim_.counters.SetHasTimeStampCounter(false);
  sim_.counters.SetReadCostNs(100'000);
  TimeBase t = Make();
  EXPECT_FALSE(t.TscAvailable);
  EXPECT_FALSE(t.TestCounterSpeed());
  EXPECT_FALSE(t.CounterTooSlow);
  EXPECT_EQ(sim_.clock.NowNs(), 0) << "not even sampled";
  t.Calibrate(false);
  EXPECT_EQ(t.TicksPerSecond, 10'000'000.0);
}

TEST_F(TimeBaseTest, ASlowPerformanceCounterSwitchesToTheTimeStampCounter) {
  sim_.counters.SetReadCostNs(25'000);  // each pair of reads 25 us apart
  TimeBase t = Make();
  EXPECT_TRUE(t.TestCounterSpeed());
  sim_.counters.SetReadCostNs(0);
  sim_.clock.AdvanceTo(1'000'000'000);
  EXPECT_EQ(t.ReadTimestamp(false), 2'400'000'000) << "time-stamp counter ticks";
  t.Calibrate(false);
  EXPECT_EQ(t.TicksPerSecond, 2'400'000'000.0);
  EXPECT_EQ(g_ring0.Thresholds.EdgeGapTicks.load(), t.EdgeGapTicks);
  EXPECT_EQ(g_ring0.Thresholds.TrainStartWindowTicks.load(), 72'000'000);
  EXPECT_EQ(g_ring0.Thresholds.SequenceGapTicks.load(), 1'200'000'000);
}

// A receiver being made and one already running may calibrate at the same moment; the
// module copies then hold values of one or the other (ThreadSanitizer checks the writes).
TEST(Ring0Thresholds, TwoTimeBasesCalibratingAtOnce) {
  sim::SimPlatform sim;
  const int64_t rates[] = {10'000'000, 2'400'000'000};
  std::vector<std::thread> threads;
  for (const int64_t rate : rates) {
    threads.emplace_back([&, rate] {
      TimeBase t(sim.counters, sim.scheduler);
      for (int i = 0; i < 2000; ++i) t.SetTimeBase(rate);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const int64_t edge_gap = g_ring0.Thresholds.EdgeGapTicks.load();
  EXPECT_TRUE(edge_gap == ThresholdsFor(rates[0]).EdgeGapTicks ||
              edge_gap == ThresholdsFor(rates[1]).EdgeGapTicks);
}

TEST_F(TimeBaseTest, AFastCounterIsUsedUnlessRing0IsAllowed) {
  TimeBase t = Make();
  EXPECT_FALSE(t.TestCounterSpeed());
  sim_.counters.SetReadCostNs(0);
  sim_.clock.AdvanceTo(1'000'000'000);
  EXPECT_EQ(t.ReadTimestamp(false), 10'000'000);
  EXPECT_EQ(t.ReadTimestamp(true), 2'400'000'000);
  EXPECT_EQ(t.MeasureTickRate(false), 10'000'000);
  EXPECT_EQ(t.MeasureTickRate(true), 2'400'000'000);
}

TEST_F(TimeBaseTest, MeasurementRunsAtTimeCriticalPriorityAndRestoresIt) {
  TimeBase t = Make();
  int64_t rate = 0;
  auto thread = sim_.scheduler.CreateSuspendedThread([&] { rate = t.MeasureTickRate(true); });
  thread->SetPriority(prio::kLowest);
  thread->Resume();
  thread->Join();
  EXPECT_EQ(rate, 2'400'000'000);
  const auto* sim_thread = dynamic_cast<sim::SimThread*>(thread.get());
  ASSERT_NE(sim_thread, nullptr);
  EXPECT_EQ(sim_thread->PriorityHistory(),
            (std::vector<int>{prio::kLowest, prio::kTimeCritical, prio::kLowest}));
  EXPECT_GE(sim_.clock.NowNs(), 100'000'000) << "slept twice 50 ms";
}

}  // namespace
}  // namespace sfh56
