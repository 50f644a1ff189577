// The train assembler: samples into records, the end of a train in both end-test modes,
// and recorded durations replayed through it (and through the drain) as serial capture
// records them.
#include "receiver/train_assembler.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/replay/durations.h"

namespace sfh56 {
namespace {

TEST(TrainAssembler, RecordsChangesOnlyAndEndsByTheBusyModeLimits) {
  const TrainLimits limits{300, 128};
  std::vector<EdgeRecord> edges(kMaxCapturedEdges);
  TrainAssembler assembler;
  assembler.SetPrevStatus(0x20);
  assembler.Begin(edges.data(), 1000);
  EXPECT_FALSE(assembler.Sample(0x20, 1001)) << "no change, no edge";
  EXPECT_TRUE(assembler.Sample(0, 1010));
  EXPECT_EQ(assembler.QuietLimitMs(), kFirstWaitMs);
  // Below ten edges: the window from the train's start, compared strictly.
  EXPECT_FALSE(assembler.EndsAt(1300, limits));
  EXPECT_TRUE(assembler.EndsAt(1301, limits));
  for (int i = 1; i < kLongTrainEdges; ++i) assembler.Sample(i % 2 == 0 ? 0 : 0x20, 1010 + i);
  ASSERT_EQ(assembler.Count(), kLongTrainEdges);
  EXPECT_EQ(assembler.QuietLimitMs(), kNextWaitMs);
  // From ten edges: the gap after the last edge.
  EXPECT_EQ(assembler.LastEdgeTicks(), 1019);
  EXPECT_FALSE(assembler.EndsAt(1019 + 128, limits));
  EXPECT_TRUE(assembler.EndsAt(1019 + 129, limits));
  EXPECT_EQ(edges[0].Status, 0u);
  EXPECT_EQ(edges[0].Timestamp, 1010);
  // A full train takes no more records; the status carries over to the next train.
  for (int i = kLongTrainEdges; i < kMaxCapturedEdges + 5; ++i) {
    assembler.Sample(i % 2 == 0 ? 0 : 0x20, 2000 + i);
  }
  EXPECT_TRUE(assembler.Full());
  EXPECT_EQ(assembler.Count(), kMaxCapturedEdges);
  const uint32_t last = assembler.PrevStatus();
  assembler.Begin(edges.data(), 5000);
  EXPECT_EQ(assembler.Count(), 0);
  EXPECT_FALSE(assembler.Sample(last, 5001));
}

TEST(DurationsToTrain, MarksClearTheIdlePinAndTimesBecomeTicks) {
  const std::vector<double> d = {9000, 4500, 560};
  PulseTrain train;
  ASSERT_TRUE(DurationsToTrain(d, 2000000.0, train, 100));
  ASSERT_EQ(train.LastEdgeIndex, 3);
  EXPECT_EQ(train.TicksPerSecond, 2000000.0);
  EXPECT_EQ(train.Edges[0].Status, 0u);
  EXPECT_EQ(train.Edges[0].Timestamp, 100);
  EXPECT_EQ(train.Edges[1].Status, kIdleStatus);
  EXPECT_EQ(train.Edges[1].Timestamp, 18100);
  EXPECT_EQ(train.Edges[2].Timestamp, 27100);
  EXPECT_EQ(train.Edges[3].Status, kIdleStatus);
  EXPECT_EQ(train.Edges[3].Timestamp, 28220);
}

TEST(DurationsToTrain, RejectsWhatATrainCannotHold) {
  PulseTrain train;
  EXPECT_TRUE(DurationsToTrain(std::vector<double>(300, 500.0), 1e6, train));
  EXPECT_EQ(train.LastEdgeIndex, 300);
  EXPECT_FALSE(DurationsToTrain(std::vector<double>(301, 500.0), 1e6, train));
  EXPECT_EQ(train.LastEdgeIndex, -1);
  EXPECT_FALSE(DurationsToTrain(std::vector<double>{500, -1, 500}, 1e6, train));
  EXPECT_FALSE(DurationsToTrain(std::vector<double>{500}, 0.0, train));
  EXPECT_FALSE(DurationsToTrain(std::vector<double>{500}, -5.0, train));
}

std::vector<int> EdgeCounts(const std::vector<PulseTrain>& trains) {
  std::vector<int> counts;
  for (const PulseTrain& t : trains) counts.push_back(t.EdgeCount());
  return counts;
}

TEST(ReplayedTrains, QuietGapsEndTrainsAsTheCaptureWould) {
  // A 12-interval frame, a 40 ms gap, a 3-interval repeat frame, a 37 ms gap, the frame.
  std::vector<double> d(11, 600.0);
  d.push_back(40000);
  d.insert(d.end(), {9000, 2250, 560});
  d.push_back(37000);
  d.insert(d.end(), 11, 600.0);
  const auto trains = ReplayedTrains(d, 1e6);
  EXPECT_EQ(EdgeCounts(trains), (std::vector<int>{12, 4, 12}));
  EXPECT_EQ(trains[1].Edges[0].Status, 0u);
  EXPECT_EQ(trains[1].Edges[0].Timestamp, 6600 + 40000);
}

TEST(ReplayedTrains, FewEdgesWaitThirtyMillisecondsManyWaitThirteen) {
  // 20 ms gap after 4 edges stays in the train; 20 ms after 12 edges ends it.
  std::vector<double> d = {600, 600, 600, 20000};
  d.insert(d.end(), 7, 600.0);
  d.push_back(20000);
  d.insert(d.end(), 11, 600.0);
  EXPECT_EQ(EdgeCounts(ReplayedTrains(d, 1e6)), (std::vector<int>{12, 12}));
}

TEST(ReplayedTrains, BusyPollingEndsThirtyMillisecondsFromTheStartOrTwelvePointEightAfterAnEdge) {
  // Two edges, two more at 29.5 and 29.9 ms (kept) and two at 30.5 and 31 ms (after the
  // window: drained); 50 ms later ten edges and a gap of 12.9 ms, which waiting mode
  // (13 ms) keeps in the train.
  std::vector<double> d = {600, 28900, 400, 600, 500, 50000};
  d.insert(d.end(), 9, 600.0);
  d.insert(d.end(), {12900, 600});
  EXPECT_EQ(EdgeCounts(ReplayedTrains(d, 1e6, 0, true)), (std::vector<int>{4, 10}));
  EXPECT_EQ(EdgeCounts(ReplayedTrains(d, 1e6)), (std::vector<int>{6, 12}));
}

TEST(ReplayedTrains, DrainSwallowsChangesSoonAfterATrain) {
  // The second frame starts 16 ms after the first ends: within the 13 ms wait plus 6 ms
  // drain, so its first four changes are discarded; the 9 ms space after them is the
  // quiet that ends the drain, and the rest is captured.
  std::vector<double> d(11, 600.0);
  d.push_back(16000);
  d.insert(d.end(), {600, 600, 600, 9000});
  d.insert(d.end(), 11, 600.0);
  const auto trains = ReplayedTrains(d, 1e6);
  ASSERT_EQ(EdgeCounts(trains), (std::vector<int>{12, 12}));
}

TEST(ReplayedTrains, BurstOverThreeHundredEdgesIsCutAndDrained) {
  std::vector<double> d(401, 500.0);
  d.push_back(50000);
  d.insert(d.end(), 11, 600.0);
  const auto trains = ReplayedTrains(d, 1e6);
  EXPECT_EQ(EdgeCounts(trains), (std::vector<int>{300, 12}));
  EXPECT_TRUE(ReplayedTrains(std::vector<double>{1, 2, 3}, 0.0).empty());
}

}  // namespace
}  // namespace sfh56
