#include "decode/sequence_rule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace sfh56 {
namespace {

constexpr int64_t kTicksPerSecond = 3579545;
constexpr int64_t kSequenceGapTicks = kTicksPerSecond / 2;
constexpr int64_t kMs = kTicksPerSecond / 1000;

// Serial capture of one frame of 20 ms starting at start_ticks; returns the action.
TrainAction SerialFrame(SequenceRule& rule, int64_t start_ticks, int32_t command_order,
                        bool plugin_open = true) {
  rule.StartTrain(start_ticks, kSequenceGapTicks);
  for (int64_t t = start_ticks + kMs; t <= start_ticks + 20 * kMs; t += kMs) rule.EdgeRecorded(t);
  return rule.FinishTrain(command_order, plugin_open);
}

TEST(SequenceRule, CommandOrderZeroDecodesEveryTrain) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(SerialFrame(rule, 1000 * kMs + i * 120 * kMs, 0), TrainAction::kDecode);
  }
  EXPECT_EQ(rule.FinishTrain(-3, true), TrainAction::kDecode) << "negative as 0";
}

TEST(SequenceRule, SecondTrainOfEachSequenceWithPausesOf100Ms) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  std::vector<TrainAction> actions;
  int64_t t = 10000 * kMs;
  for (int i = 0; i < 4; ++i) {
    actions.push_back(SerialFrame(rule, t, 2));
    t += 120 * kMs;  // 20 ms frame + 100 ms pause
  }
  EXPECT_EQ(actions, (std::vector<TrainAction>{TrainAction::kDiscard, TrainAction::kDecode,
                                               TrainAction::kDiscard, TrainAction::kDecode}));
}

TEST(SequenceRule, PauseOverHalfASecondStartsANewSequence) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  EXPECT_EQ(SerialFrame(rule, 10000 * kMs, 2), TrainAction::kDiscard);
  EXPECT_EQ(SerialFrame(rule, 10000 * kMs + 620 * kMs, 2), TrainAction::kDiscard);
  EXPECT_EQ(rule.TrainCount(), 1);
}

TEST(SequenceRule, GapOfExactlyHalfASecondStaysInTheSequence) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  rule.StartTrain(1000, kSequenceGapTicks);
  rule.EdgeRecorded(2000);
  EXPECT_EQ(rule.FinishTrain(2, true), TrainAction::kDiscard);
  rule.StartTrain(2000 + kSequenceGapTicks, kSequenceGapTicks);
  EXPECT_EQ(rule.FinishTrain(2, true), TrainAction::kDecode) << "strictly greater resets";
}

TEST(SequenceRule, EmptyAndShortTrainsCount) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  rule.StartTrain(5000 * kMs, kSequenceGapTicks);  // no edge recorded: an empty train
  EXPECT_EQ(rule.FinishTrain(2, true), TrainAction::kDiscard);
  EXPECT_EQ(SerialFrame(rule, 5040 * kMs, 2), TrainAction::kDecode);
}

TEST(SequenceRule, UsbCountRunsOnAcrossPauses) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kUsb);
  std::vector<TrainAction> actions;
  for (int i = 0; i < 6; ++i) actions.push_back(rule.FinishTrain(3, true));
  EXPECT_EQ(actions, (std::vector<TrainAction>{TrainAction::kDiscard, TrainAction::kDiscard,
                                               TrainAction::kDecode, TrainAction::kDiscard,
                                               TrainAction::kDiscard, TrainAction::kDecode}));
}

TEST(SequenceRule, CaptureStartResetsTheCount) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  EXPECT_EQ(SerialFrame(rule, 100000 * kMs, 2), TrainAction::kDiscard);
  EXPECT_EQ(rule.LastEdgeTicks(), 100020 * kMs);
  rule.StartCapture(CapturePath::kSerial);
  EXPECT_EQ(rule.TrainCount(), 0);
  EXPECT_EQ(rule.LastEdgeTicks(), 0);
  rule.EdgeRecorded(77);
  rule.StartCapture(CapturePath::kUsb);
  EXPECT_EQ(rule.LastEdgeTicks(), 77) << "the USB path leaves the edge time alone";
}

TEST(SequenceRule, ClosedPluginEndsTheThreadInsteadOfDecoding) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  EXPECT_EQ(SerialFrame(rule, 1000 * kMs, 2, false), TrainAction::kDiscard);
  EXPECT_EQ(SerialFrame(rule, 1100 * kMs, 2, false), TrainAction::kEndThread);
  EXPECT_EQ(rule.TrainCount(), 0);
}

TEST(SequenceRule, ExtremeValuesGiveDefinedResults) {
  SequenceRule rule;
  rule.StartCapture(CapturePath::kSerial);
  // A counter near the top of its range: the wrapped difference is negative, no reset.
  rule.EdgeRecorded(INT64_MIN + 10);
  rule.StartTrain(INT64_MAX, kSequenceGapTicks);
  EXPECT_EQ(rule.FinishTrain(INT32_MAX, true), TrainAction::kDiscard);
  for (int i = 0; i < 5; ++i) rule.FinishTrain(INT32_MAX, true);
  EXPECT_EQ(rule.TrainCount(), 6);
}

}  // namespace
}  // namespace sfh56
