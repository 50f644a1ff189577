// Serial capture runs on simulated ports: the port's calls and flags, the receiver
// check, the end of a train in both end-test modes, the sequence rule, the drain, and
// ports and lines that misbehave.

#include <gtest/gtest.h>

#include "tests/receiver/serial_test_support.h"

namespace sfh56::testing {
namespace {

using sim::SerialCall;
using sim::WaveformBuilder;

constexpr int64_t kSecondNs = 1000 * kNsPerMs;

// A space-coded frame of 32 bits after a 9 ms / 4.5 ms leader: 67 durations, 68 edges.
std::vector<int64_t> SpaceCodedFrame(uint32_t bits = 0x00FF48B7) {
  std::vector<int64_t> us{9000, 4500};
  for (int i = 31; i >= 0; --i) {
    us.push_back(560);
    us.push_back((bits >> i) & 1 ? 1690 : 560);
  }
  us.push_back(560);
  return us;
}

std::vector<bool> AckValues(const RecordingReceiver& receiver) {
  std::vector<bool> values;
  for (const auto& ack : receiver.acks) values.push_back(ack.running);
  return values;
}

TEST(SerialCapturePort, ArmsThePortWithTheExactCallsFlagsAndOrder) {
  SerialRig rig;
  rig.AddReceiver("COM3", WaveformBuilder(kSecondNs).Durations(SpaceCodedFrame()).Build());
  rig.receiver.settings.ComName = "COM3";
  rig.Run();

  const std::vector<SerialCall> expected{
      SerialCall::kOpen,         SerialCall::kSetupQueues,     SerialCall::kGetState,
      SerialCall::kSetState,     SerialCall::kEscape,          SerialCall::kEscape,
      SerialCall::kSetEventMask, SerialCall::kCreateEventWait, SerialCall::kClose};
  EXPECT_EQ(rig.ports.ConfigurationCalls(), expected);
  const auto calls = rig.ports.Calls();
  EXPECT_EQ(calls[0].port, "COM3");
  EXPECT_EQ(calls[1].arg1, 1u);
  EXPECT_EQ(calls[1].arg2, 1u);
  // The whole flag word is cleared; the line parameters are written back as read.
  EXPECT_EQ(calls[3].dcb.flags, 0u);
  EXPECT_EQ(calls[3].dcb.baud_rate, 9600u);
  EXPECT_EQ(calls[3].dcb.byte_size, 8);
  EXPECT_EQ(calls[4].arg1, static_cast<uint32_t>(platform::EscapeFunction::kSetRts));
  EXPECT_EQ(calls[5].arg1, static_cast<uint32_t>(platform::EscapeFunction::kSetDtr));
  EXPECT_EQ(calls[6].arg1, platform::kEvDsr);
  EXPECT_EQ(rig.ports.OpenPorts(), 0);
  EXPECT_TRUE(rig.boxes.ShownBoxes().empty());
  EXPECT_EQ(AckValues(rig.receiver), std::vector<bool>{true});
  ASSERT_EQ(rig.receiver.admitted.size(), 1u);
  EXPECT_EQ(rig.receiver.admitted[0].edges.size(), 68u);
}

TEST(SerialCapturePort, EventMaskAndStatusBitFollowTheInputLine) {
  const struct {
    uint8_t input;
    sim::ModemLine line;
    uint32_t mask;
    uint32_t bit;
  } cases[] = {{0, sim::ModemLine::kCts, platform::kEvCts, platform::kMsCtsOn},
               {1, sim::ModemLine::kDsr, platform::kEvDsr, platform::kMsDsrOn},
               {2, sim::ModemLine::kDcd, platform::kEvRlsd, platform::kMsRlsdOn}};
  for (const auto& c : cases) {
    SerialRig rig;
    rig.AddReceiver("COM1", WaveformBuilder(kSecondNs).Durations({2000, 1000, 2000}).Build(),
                    c.line);
    rig.receiver.settings.InputSignal = c.input;
    rig.Run();
    EXPECT_EQ(rig.ports.Calls()[6].arg1, c.mask);
    EXPECT_EQ(rig.state.SignalMask, c.bit);
    ASSERT_EQ(rig.receiver.admitted.size(), 1u);
    const auto& edges = rig.receiver.admitted[0].edges;
    ASSERT_EQ(edges.size(), 4u);
    EXPECT_EQ(edges[0].Status, 0u);
    EXPECT_EQ(edges[1].Status, c.bit);
  }
  // Settings loading never yields another value; the table is still not overrun.
  EXPECT_EQ(InputLineFor(7).status_bit, platform::kMsDsrOn);
}

TEST(SerialCapturePort, PortThatCannotBeOpenedIsReportedAndAcknowledged) {
  for (const std::string name : {"COM9", "", "COM12345678", "\\\\.\\COM10"}) {
    SerialRig rig;
    rig.AddReceiver("COM1", WaveformBuilder().Build());
    rig.receiver.settings.ComName = name;
    rig.Run();
    const auto boxes = rig.boxes.ShownBoxes();
    ASSERT_EQ(boxes.size(), 1u) << name;
    EXPECT_EQ(boxes[0].text, "<Unable to open COM port>");
    EXPECT_EQ(boxes[0].caption, name);
    EXPECT_EQ(boxes[0].flags, platform::kMbIconError | platform::kMbTopmost);
    EXPECT_EQ(AckValues(rig.receiver), std::vector<bool>{false});
    EXPECT_FALSE(rig.receiver.running);
    EXPECT_EQ(rig.ports.OpenPorts(), 0);
  }
  // Names that do not fit the 11-character buffer never reach the port layer.
  SerialRig rig;
  rig.receiver.settings.ComName = "COM12345678";
  rig.Run();
  EXPECT_TRUE(rig.ports.Calls().empty());
}

TEST(SerialCaptureCheck, ReceiverIdlingAtItsSetLevelPassesAtOnce) {
  SerialRig rig;
  rig.AddReceiver("COM1", WaveformBuilder().Build());
  rig.Run();
  EXPECT_TRUE(rig.boxes.ShownBoxes().empty());
  ASSERT_EQ(rig.receiver.acks.size(), 1u);
  EXPECT_TRUE(rig.receiver.acks[0].running);
  EXPECT_LT(rig.receiver.acks[0].at_ns, kNsPerMs);
  EXPECT_EQ(rig.receiver.calibrations.size(), 1u);
  EXPECT_FALSE(rig.receiver.settings.AllowRing0);
}

TEST(SerialCaptureCheck, DeadReceiverWarnsAfterThreeSecondsAndCancelStartsAnyway) {
  SerialRig rig;
  sim::SimPortConfig config;
  config.waveform = WaveformBuilder(0, false).Build();
  config.status_read_cost_ns = 50 * kNsPerUs;
  rig.ports.AddPort("COM1", config);
  rig.boxes.QueueAnswer(platform::kIdCancel);
  rig.Run();
  const auto boxes = rig.boxes.ShownBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "<Warning: There may be hardware problem in receiver!>");
  EXPECT_EQ(boxes[0].caption, "Plonix SFH-56 device");
  EXPECT_EQ(boxes[0].flags,
            platform::kMbRetryCancel | platform::kMbIconQuestion | platform::kMbTopmost);
  ASSERT_EQ(rig.receiver.acks.size(), 1u);
  EXPECT_TRUE(rig.receiver.acks[0].running);
  EXPECT_GT(rig.receiver.acks[0].at_ns, 3 * kSecondNs);
  EXPECT_LT(rig.receiver.acks[0].at_ns, 3 * kSecondNs + kNsPerMs);
}

TEST(SerialCaptureCheck, RetryCalibratesAndChecksAgain) {
  SerialRig rig;
  sim::SimPortConfig config;
  // The receiver comes to life 4 s after power-up: the second check passes.
  config.waveform = WaveformBuilder(0, false).Hold(4000000).Level(true).Build();
  config.status_read_cost_ns = 50 * kNsPerUs;
  rig.ports.AddPort("COM1", config);
  rig.boxes.QueueAnswer(platform::kIdRetry);
  rig.Run();
  EXPECT_EQ(rig.boxes.ShownBoxes().size(), 1u);
  ASSERT_EQ(rig.receiver.calibrations.size(), 2u);
  EXPECT_GT(rig.receiver.calibrations[1], 3 * kSecondNs);
  ASSERT_EQ(rig.receiver.acks.size(), 1u);
  EXPECT_TRUE(rig.receiver.acks[0].running);
  EXPECT_GE(rig.receiver.acks[0].at_ns, 4 * kSecondNs);
}

TEST(SerialCaptureCheck, RetryOnAStillDeadReceiverWarnsAgain) {
  SerialRig rig;
  sim::SimPortConfig config;
  config.waveform = WaveformBuilder(0, false).Build();
  config.status_read_cost_ns = 50 * kNsPerUs;
  rig.ports.AddPort("COM1", config);
  rig.boxes.QueueAnswer(platform::kIdRetry);
  rig.boxes.QueueAnswer(platform::kIdCancel);
  rig.Run();
  EXPECT_EQ(rig.boxes.ShownBoxes().size(), 2u);
  EXPECT_EQ(rig.receiver.calibrations.size(), 2u);
  ASSERT_EQ(rig.receiver.acks.size(), 1u);
  EXPECT_GT(rig.receiver.acks[0].at_ns, 6 * kSecondNs);
}

TEST(SerialCaptureCheck, DcdIsSampledOnceAndNeverWarns) {
  SerialRig rig;
  rig.AddReceiver("COM1", WaveformBuilder(0, false).Build(), sim::ModemLine::kDcd);
  rig.receiver.settings.InputSignal = 2;
  rig.Run();
  EXPECT_TRUE(rig.boxes.ShownBoxes().empty());
  EXPECT_EQ(rig.ports.StatusReads(), 1);
  EXPECT_EQ(AckValues(rig.receiver), std::vector<bool>{true});
}

TEST(SerialCaptureTrain, BurstOfMoreThan300EdgesKeepsTheFirst300AndDrainsTheRest) {
  SerialRig rig;
  rig.AddReceiver("COM1", WaveformBuilder(kSecondNs).Noise(200, 401).Build());
  rig.Run();
  ASSERT_EQ(rig.receiver.admitted.size(), 1u);
  const auto& edges = rig.receiver.admitted[0].edges;
  ASSERT_EQ(edges.size(), 300u);
  // In waiting mode each change is sampled one status read (1 us) after it happened.
  EXPECT_EQ(edges[0].Timestamp, (kSecondNs + kNsPerUs) / 100);
  EXPECT_EQ(edges[299].Timestamp, (kSecondNs + 299 * 200 * kNsPerUs + kNsPerUs) / 100);
  EXPECT_EQ(rig.receiver.captured_counts, std::vector<int>{300});
}

// Edges of the captured trains: pulses of 0.5 ms mark and space, the last space
// replaced by the gap, then one more pulse. A pulse that comes after a train ended but
// within the drain's quiet time is discarded.
std::vector<int> TrainSizesWithGap(int pulses, int64_t gap_us, int priority_level) {
  SerialRig rig;
  rig.receiver.settings.PriorityLevel = static_cast<uint8_t>(priority_level);
  std::vector<int64_t> us;
  for (int i = 0; i < pulses; ++i) {
    us.push_back(500);
    us.push_back(500);
  }
  us.back() = gap_us;
  us.push_back(500);
  rig.AddReceiver("COM1", WaveformBuilder(kSecondNs).Durations(us).Build());
  rig.Run();
  return rig.receiver.captured_counts;
}

TEST(SerialCaptureTrain, WaitingModeEndsAfter30MsBelowTenEdgesAnd13MsFromTen) {
  // 2 pulses = 4 edges: a 29 ms gap stays in the train, after 31 ms the train has
  // ended and the pulse falls into the drain; after 40 ms it is a train of its own.
  EXPECT_EQ(TrainSizesWithGap(2, 29000, 7), std::vector<int>{6});
  EXPECT_EQ(TrainSizesWithGap(2, 31000, 7), std::vector<int>{4});
  EXPECT_EQ(TrainSizesWithGap(2, 40000, 7), (std::vector<int>{4, 2}));
  // 6 pulses = 12 edges: 12 ms stays, 14 ms ends the train.
  EXPECT_EQ(TrainSizesWithGap(6, 12000, 7), std::vector<int>{14});
  EXPECT_EQ(TrainSizesWithGap(6, 14000, 7), std::vector<int>{12});
  EXPECT_EQ(TrainSizesWithGap(6, 25000, 7), (std::vector<int>{12, 2}));
}

TEST(SerialCaptureTrain, BusyModeUsesStrictTickComparisons) {
  // Samples come every microsecond (the status read's cost) and edges lie on whole
  // microseconds, so every edge is seen by a sample at its own time. EdgeGapTicks is
  // exactly 12.8 ms: the sample at 12.800 ms after the last edge does not end the train,
  // the one at 12.801 ms does, unless it sees an edge first.
  EXPECT_EQ(TrainSizesWithGap(6, 12800, 8), std::vector<int>{14});
  EXPECT_EQ(TrainSizesWithGap(6, 12801, 8), std::vector<int>{14});
  EXPECT_EQ(TrainSizesWithGap(6, 12802, 8), std::vector<int>{12});
  // Below ten edges the window is 30 ms from the train's start (the first edge).
  // 2 pulses: edges at 0, 0.5, 1.0, 1.5 ms and 1.5 ms + gap.
  // The pulse's first edge joins at 30.000 and 30.001 ms; its second comes too late.
  EXPECT_EQ(TrainSizesWithGap(2, 28500, 8), std::vector<int>{5});
  EXPECT_EQ(TrainSizesWithGap(2, 28501, 8), std::vector<int>{5});
  EXPECT_EQ(TrainSizesWithGap(2, 28502, 8), std::vector<int>{4});
}

TEST(SerialCaptureTrain, StopDuringALongBurstIsServedAfterCaptureDecodeAndDrain) {
  SerialRig rig;
  // 250 edges, then a tail of fast noise that the drain discards.
  auto builder = WaveformBuilder(kSecondNs).Noise(1000, 250);
  builder.Hold(15000).Noise(2000, 40);
  const int64_t burst_end_ns = builder.CursorNs();
  rig.AddReceiver("COM1", builder.Build());
  rig.scheduler.At(kSecondNs + 100 * kNsPerMs, [&] { rig.receiver.RequestStop(); });
  rig.Run();
  ASSERT_EQ(rig.receiver.admitted.size(), 1u);
  EXPECT_EQ(rig.receiver.admitted[0].edges.size(), 250u);
  EXPECT_EQ(AckValues(rig.receiver), (std::vector<bool>{true, false}));
  EXPECT_GT(rig.receiver.acks[1].at_ns, rig.receiver.admitted[0].at_ns);
  EXPECT_GE(rig.receiver.acks[1].at_ns, burst_end_ns + kDrainQuietMs * kNsPerMs);
  EXPECT_FALSE(rig.receiver.running);
  EXPECT_FALSE(rig.receiver.terminated);
}

TEST(SerialCaptureTrain, StartWhileCapturingIsAcknowledgedWithoutReopening) {
  SerialRig rig;
  rig.AddReceiver("COM1", WaveformBuilder().Build());
  rig.scheduler.At(kSecondNs, [&] { rig.receiver.RequestStart(); });
  rig.scheduler.At(2 * kSecondNs, [&] { rig.receiver.RequestStop(); });
  rig.Run();
  EXPECT_EQ(AckValues(rig.receiver), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(rig.ports.ConfigurationCalls().front(), SerialCall::kOpen);
  EXPECT_EQ(rig.ports.ConfigurationCalls().size(), 9u);
}

// Frames 100 ms or 600 ms apart with CommandOrder 2: which ones reach the decoder.
std::vector<int64_t> DecodedFrameStarts(int frames, int64_t pause_us, int command_order) {
  SerialRig rig;
  rig.receiver.settings.CommandOrder = command_order;
  WaveformBuilder builder(kSecondNs);
  std::vector<int64_t> starts;
  for (int i = 0; i < frames; ++i) {
    starts.push_back((builder.CursorNs() + kNsPerUs) / 100);  // sampled 1 us later
    builder.Durations(SpaceCodedFrame()).Pause(pause_us);
  }
  rig.AddReceiver("COM1", builder.Build());
  rig.Run();
  std::vector<int64_t> decoded;
  for (const auto& train : rig.receiver.admitted) {
    for (size_t i = 0; i < starts.size(); ++i) {
      if (!train.edges.empty() && train.edges[0].Timestamp == starts[i]) {
        decoded.push_back(static_cast<int64_t>(i) + 1);
      }
    }
  }
  EXPECT_EQ(rig.receiver.captured_counts.size(), static_cast<size_t>(frames));
  return decoded;
}

TEST(SerialCaptureSequence, CommandOrderPicksTheNthTrainOfEachSequence) {
  EXPECT_EQ(DecodedFrameStarts(4, 100000, 2), (std::vector<int64_t>{2, 4}));
  EXPECT_EQ(DecodedFrameStarts(2, 600000, 2), std::vector<int64_t>{});
  EXPECT_EQ(DecodedFrameStarts(3, 100000, 0), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(DecodedFrameStarts(6, 100000, 3), (std::vector<int64_t>{3, 6}));
}

TEST(SerialCaptureSequence, EmptyTrainsAreCountedToo) {
  SerialRig rig;
  rig.receiver.settings.CommandOrder = 2;
  sim::SimPortConfig config;
  config.status_read_cost_ns = 5 * kNsPerUs;
  // A glitch shorter than a status read raises a comm event but shows no change.
  config.waveform =
      WaveformBuilder(kSecondNs).Durations({1}).Pause(100000).Durations(SpaceCodedFrame()).Build();
  rig.ports.AddPort("COM1", config);
  rig.Run();
  EXPECT_EQ(rig.receiver.captured_counts, (std::vector<int>{0, 68}));
  ASSERT_EQ(rig.receiver.admitted.size(), 1u);
  EXPECT_EQ(rig.receiver.admitted[0].edges.size(), 68u);
}

TEST(SerialCaptureSequence, AnAdmittedTrainAfterTheHostClosedTheReceiverEndsTheThread) {
  SerialRig rig;
  rig.receiver.plugin_open = false;
  rig.AddReceiver("COM1", WaveformBuilder(kSecondNs).Durations(SpaceCodedFrame()).Build());
  rig.Run();
  EXPECT_TRUE(rig.receiver.admitted.empty());
  EXPECT_TRUE(rig.receiver.terminated);
  EXPECT_EQ(rig.receiver.captured_counts.size(), 1u);
  EXPECT_EQ(rig.ports.OpenPorts(), 0);
}

TEST(SerialCaptureBadInput, NeverSettlingLineStillLetsStopThrough) {
  for (int level : {7, 8}) {
    SerialRig rig;
    rig.receiver.settings.PriorityLevel = static_cast<uint8_t>(level);
    rig.AddReceiver("COM1", WaveformBuilder(kSecondNs).ToggleUntil(150, 60 * kSecondNs).Build());
    rig.scheduler.At(2 * kSecondNs, [&] { rig.receiver.RequestStop(); });
    rig.Run();
    ASSERT_EQ(AckValues(rig.receiver), (std::vector<bool>{true, false})) << level;
    // Served within one train (300 edges at 150 us) and one bounded drain.
    EXPECT_LT(rig.receiver.acks[1].at_ns, 2 * kSecondNs + 1200 * kNsPerMs) << level;
    for (int count : rig.receiver.captured_counts) EXPECT_LE(count, kMaxCapturedEdges);
    EXPECT_EQ(rig.scheduler.FailedWaits(), 0);
  }
}

TEST(SerialCaptureBadInput, PortVanishingMidCaptureKeepsServingRequests) {
  for (int level : {7, 8}) {
    SerialRig rig;
    rig.receiver.settings.PriorityLevel = static_cast<uint8_t>(level);
    sim::SimPortConfig config;
    WaveformBuilder builder(kSecondNs);
    builder.Durations(SpaceCodedFrame()).Pause(200000).Noise(500, 40);
    config.waveform = builder.ToggleUntil(700, 10 * kSecondNs).Build();
    // Gone in the middle of the second burst.
    config.vanish_at_ns = kSecondNs + 300 * kNsPerMs;
    rig.ports.AddPort("COM1", config);
    rig.scheduler.At(3 * kSecondNs, [&] { rig.receiver.RequestStart(); });
    rig.scheduler.At(4 * kSecondNs, [&] { rig.receiver.RequestStop(); });
    rig.Run();
    EXPECT_EQ(AckValues(rig.receiver), (std::vector<bool>{true, true, false})) << level;
    EXPECT_EQ(rig.receiver.acks[2].at_ns, 4 * kSecondNs) << level;
    ASSERT_GE(rig.receiver.admitted.size(), 1u) << level;
    EXPECT_EQ(rig.receiver.admitted[0].edges.size(), 68u) << level;
    EXPECT_EQ(rig.ports.OpenPorts(), 0);
  }
}

TEST(SerialCaptureBadInput, PortGoneBeforeArmingStillAcknowledgesAndCloses) {
  SerialRig rig;
  sim::SimPortConfig config;
  config.vanish_at_ns = 0;
  config.status_read_cost_ns = 100 * kNsPerUs;
  rig.ports.AddPort("COM1", config);
  rig.scheduler.At(10 * kSecondNs, [&] { rig.receiver.RequestStop(); });
  rig.Run();
  EXPECT_EQ(rig.boxes.ShownBoxes().size(), 1u);  // the receiver warning, answered Cancel
  EXPECT_EQ(AckValues(rig.receiver), (std::vector<bool>{true, false}));
  EXPECT_EQ(rig.ports.OpenPorts(), 0);
}

}  // namespace
}  // namespace sfh56::testing
