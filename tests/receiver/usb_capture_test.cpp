// USB capture against the scripted receiver library of the simulated platform, with
// stand-ins for the receiver's seams that record what the capture asks of them.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "platform/sim/sim_message_boxes.h"
#include "receiver/usb_capture.h"
#include "tests/support/capture_doubles.h"
#include "tests/support/sim_usb_receiver.h"

namespace sfh56 {
namespace {

using Request = Wake;
using PortWrite = sim::SimUsbReceiver::PortWrite;

// Answers the capture's waits from a script; once the script is used up it reports no
// request until the receiver's queue is drained, then a stop request.
class FakeThread : public test::CaptureDouble {
 public:
  explicit FakeThread(const sim::SimUsbReceiver& receiver) : receiver_(receiver) {}

  Wake Wait(uint32_t timeout_ms, platform::Waitable* device) override {
    EXPECT_EQ(timeout_ms, kUsbPollPeriodMs);
    return CaptureDouble::Wait(timeout_ms, device);
  }
  Wake AfterScript() override { return receiver_.Drained() ? Request::kStop : Request::kTimeout; }
  std::string TranslateText(const std::string& text) override { return "translated:" + text; }

 private:
  const sim::SimUsbReceiver& receiver_;
};

class UsbCaptureTest : public ::testing::Test {
 protected:
  void InstallLibrary(const std::string& without_entry = "") {
    modules.AddLibrary(kUsbLibraryName, receiver.Exports(without_entry));
  }
  void Run() { capture.Run(thread.Seams()); }

  sim::SimUsbReceiver receiver;
  sim::SimModules modules;
  sim::SimMessageBoxes boxes;
  UsbCapture capture{modules, boxes};
  FakeThread thread{receiver};
};

// --- Library missing or incomplete -------------------------------------------------

TEST_F(UsbCaptureTest, AbsentLibraryShowsOneBoxPerStartAndAcknowledgesNotRunning) {
  Run();
  Run();
  const auto shown = boxes.ShownBoxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "translated:Unable to inicialize USB driver DLL library!");
  EXPECT_EQ(shown[0].caption, "PlonixUSB.dll");
  EXPECT_EQ(shown[0].flags, platform::kMbIconError | platform::kMbTopmost);
  EXPECT_EQ(thread.acks, (std::vector<bool>{false, false}));
  EXPECT_EQ(modules.LoadAttempts(kUsbLibraryName), 2);
  EXPECT_EQ(thread.waits, 0);
}

class UsbMissingEntryTest : public UsbCaptureTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(UsbMissingEntryTest, IncompleteLibraryIsRefusedAndUnloaded) {
  InstallLibrary(GetParam());
  receiver.QueueTrain({10, 10});
  Run();
  ASSERT_EQ(boxes.ShownBoxes().size(), 1u);
  EXPECT_EQ(thread.acks, (std::vector<bool>{false}));
  EXPECT_EQ(modules.LoadedNow(kUsbLibraryName), 0);
  EXPECT_TRUE(receiver.Writes().empty());
  EXPECT_EQ(receiver.Polls(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachEntryPoint, UsbMissingEntryTest,
                         ::testing::Values(kDoGetInfraCode, kDoSetDataPortDirection,
                                           kDoGetDataPortDirection, kDoSetOutDataPort,
                                           kDoGetOutDataPort));

// --- Lifecycle ----------------------------------------------------------------------

TEST_F(UsbCaptureTest, LibraryIsLoadedForEachRunAndReleasedAfterIt) {
  InstallLibrary();
  Run();
  EXPECT_EQ(modules.LoadedNow(kUsbLibraryName), 0);
  Run();
  EXPECT_EQ(modules.LoadAttempts(kUsbLibraryName), 2);
  EXPECT_EQ(modules.LoadedNow(kUsbLibraryName), 0);
  EXPECT_TRUE(boxes.ShownBoxes().empty());
  // Started, stopped; started, stopped.
  EXPECT_EQ(thread.acks, (std::vector<bool>{true, false, true, false}));
}

TEST_F(UsbCaptureTest, StartWhileCapturingIsAcknowledgedAndCaptureGoesOn) {
  InstallLibrary();
  thread.script = {Request::kTimeout, Request::kStart, Request::kTimeout};
  receiver.QueueSilence(3);
  Run();
  EXPECT_EQ(thread.acks, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(receiver.Polls(), 3);
}

TEST_F(UsbCaptureTest, TerminateEndsCaptureWithoutAcknowledgement) {
  InstallLibrary();
  thread.script = {Request::kTimeout, Request::kTerminate};
  receiver.QueueSilence(5);
  Run();
  EXPECT_TRUE(thread.terminated);
  EXPECT_EQ(thread.acks, (std::vector<bool>{true}));
  EXPECT_EQ(receiver.Polls(), 1);
  EXPECT_EQ(receiver.Out() & kUsbPortBits, 0);
  EXPECT_EQ(modules.LoadedNow(kUsbLibraryName), 0);
}

TEST_F(UsbCaptureTest, AdmittedTrainAfterHostClosedEndsTheThreadInsteadOfDecoding) {
  InstallLibrary();
  thread.plugin_open = false;
  receiver.QueueTrain({10, 20, 10});
  receiver.QueueTrain({10, 20, 10});
  Run();
  EXPECT_TRUE(thread.terminated);
  EXPECT_TRUE(thread.decoded.empty());
  EXPECT_EQ(receiver.Polls(), 1);
  EXPECT_EQ(thread.sequence.TrainCount(), 0);
  EXPECT_EQ(receiver.Out() & kUsbPortBits, 0);
  EXPECT_EQ(modules.LoadedNow(kUsbLibraryName), 0);
}

// --- Output port --------------------------------------------------------------------

TEST_F(UsbCaptureTest, DrivesPortBitsAtStartEachPollAfterATrainAndAtTheEnd) {
  InstallLibrary();
  receiver.SetPort(/*out=*/0xA7, /*direction=*/0x50);
  receiver.QueueSilence(1);
  receiver.QueueTrain({5});
  receiver.QueueSilence(1);
  Run();
  const std::vector<PortWrite> expected{
      // Start: both bits off, then made outputs; the other bits untouched.
      {PortWrite::kOut, 0xA4, 0},
      {PortWrite::kDirection, 0x53, 0},
      // First poll, nothing received: bit 0 on, bit 1 off.
      {PortWrite::kDirection, 0x53, 0},
      {PortWrite::kOut, 0xA5, 0},
      // Second poll receives a train: both bits on.
      {PortWrite::kDirection, 0x53, 1},
      {PortWrite::kOut, 0xA5, 1},
      {PortWrite::kOut, 0xA7, 2},
      // Third poll, nothing.
      {PortWrite::kDirection, 0x53, 2},
      {PortWrite::kOut, 0xA5, 2},
      // End: both bits off.
      {PortWrite::kOut, 0xA4, 3},
  };
  EXPECT_EQ(receiver.Writes(), expected);
  EXPECT_EQ(receiver.LastCapacity(), 255);
}

// --- Trains -------------------------------------------------------------------------

TEST_F(UsbCaptureTest, OneDurationGivesTwoRecordsEndingAtTheIdleLevel) {
  InstallLibrary();
  thread.train.Edges[0].Status = 7;  // left by an earlier capture
  receiver.QueueTrain({12});
  Run();
  ASSERT_EQ(thread.decoded.size(), 1u);
  const PulseTrain& train = thread.decoded[0];
  ASSERT_EQ(train.LastEdgeIndex, 1);
  EXPECT_EQ(train.Edges[0].Timestamp, 0);
  EXPECT_EQ(train.Edges[0].Status, 7u);
  // 12 x 1000000 x 1024 div 12000000
  EXPECT_EQ(train.Edges[1].Timestamp, 1024);
  EXPECT_EQ(train.Edges[1].Status, 1u);
}

TEST_F(UsbCaptureTest, TimestampsAccumulateAndLevelsAlternateBackFromTheLast) {
  InstallLibrary();
  thread.ticks_per_second = 12000000.0;  // one device unit = 1024 ticks
  receiver.QueueTrain({10, 20, 30, 1});
  Run();
  ASSERT_EQ(thread.decoded.size(), 1u);
  const PulseTrain& train = thread.decoded[0];
  ASSERT_EQ(train.LastEdgeIndex, 4);
  const int64_t expected_time[] = {0, 10240, 30720, 61440, 62464};
  const uint32_t expected_status[] = {0, 0, 1, 0, 1};
  for (int i = 0; i <= 4; ++i) {
    EXPECT_EQ(train.Edges[i].Timestamp, expected_time[i]) << i;
    EXPECT_EQ(train.Edges[i].Status, expected_status[i]) << i;
  }
}

TEST_F(UsbCaptureTest, FullBufferOf255DurationsIsOneTrain) {
  InstallLibrary();
  receiver.QueueTrain(std::vector<uint8_t>(255, 3));
  Run();
  ASSERT_EQ(thread.decoded.size(), 1u);
  EXPECT_EQ(thread.decoded[0].LastEdgeIndex, 255);
  EXPECT_EQ(thread.decoded[0].Edges[255].Status, 1u);
  EXPECT_EQ(thread.decoded[0].Edges[255].Timestamp, 255 * (3 * 1000000LL * 1024 / 12000000));
}

TEST_F(UsbCaptureTest, ZeroDurationsPassThroughAsEmptyIntervals) {
  InstallLibrary();
  thread.ticks_per_second = 12000000.0;
  receiver.QueueTrain({0, 5, 0});
  Run();
  ASSERT_EQ(thread.decoded.size(), 1u);
  const PulseTrain& train = thread.decoded[0];
  EXPECT_EQ(train.Edges[1].Timestamp, 0);
  EXPECT_EQ(train.Edges[2].Timestamp, 5120);
  EXPECT_EQ(train.Edges[3].Timestamp, 5120);
}

// --- Bad answers from the library ----------------------------------------------------

TEST_F(UsbCaptureTest, ContractBreakingAnswersGiveNoTrainAndPollingGoesOn) {
  InstallLibrary();
  receiver.SetPort(0x00, 0x00);
  thread.settings.CommandOrder = 2;
  receiver.QueueRaw(0, 256, std::vector<uint8_t>(300, 9));  // more than the capacity
  receiver.QueueRaw(0, std::numeric_limits<int32_t>::max(), std::vector<uint8_t>(255, 9));
  receiver.QueueRaw(0, -1, {9, 9});
  receiver.QueueRaw(0, std::numeric_limits<int32_t>::min(), {});
  receiver.QueueRaw(1, 5, {9, 9, 9, 9, 9});  // a count with a failure result
  receiver.QueueRaw(-7, 3, {9, 9, 9});
  receiver.QueueTrain({4, 4});
  receiver.QueueTrain({6, 6, 6});
  Run();
  // The six bad answers neither count towards CommandOrder nor touch the train.
  ASSERT_EQ(thread.decoded.size(), 1u);
  EXPECT_EQ(thread.decoded[0].LastEdgeIndex, 3);
  EXPECT_EQ(receiver.Polls(), 8);
  EXPECT_EQ(receiver.LastCapacity(), 255);
  // Both status bits came on only for the two real trains.
  int both_on = 0;
  for (const PortWrite& write : receiver.Writes()) {
    if (write.kind == PortWrite::kOut && (write.value & kUsbPortBits) == kUsbPortBits) ++both_on;
  }
  EXPECT_EQ(both_on, 2);
}

TEST_F(UsbCaptureTest, OversizedCountNeverChangesTheTrain) {
  InstallLibrary();
  thread.train.LastEdgeIndex = -1;
  receiver.QueueRaw(0, 300, std::vector<uint8_t>(300, 1));
  Run();
  EXPECT_TRUE(thread.decoded.empty());
  EXPECT_EQ(thread.train.LastEdgeIndex, -1);
  EXPECT_EQ(thread.sequence.TrainCount(), 0);
}

// --- Sequence rule ------------------------------------------------------------------

TEST_F(UsbCaptureTest, CommandOrderThreeDecodesEveryThirdTrainWhateverThePauses) {
  InstallLibrary();
  thread.settings.CommandOrder = 3;
  for (int i = 1; i <= 7; ++i) {
    receiver.QueueTrain({static_cast<uint8_t>(i)});
    receiver.QueueSilence(i * 40);  // up to 14 s between trains
  }
  Run();
  ASSERT_EQ(thread.decoded.size(), 2u);
  EXPECT_EQ(thread.decoded[0].Edges[1].Timestamp, 3 * 1000000LL * 1024 / 12000000);
  EXPECT_EQ(thread.decoded[1].Edges[1].Timestamp, 6 * 1000000LL * 1024 / 12000000);
  EXPECT_EQ(thread.sequence.TrainCount(), 1);
}

TEST_F(UsbCaptureTest, CountRestartsAtEachStart) {
  InstallLibrary();
  thread.settings.CommandOrder = 2;
  thread.sequence.FinishTrain(2, true);  // one train left over from an earlier run
  receiver.QueueTrain({1});
  Run();
  EXPECT_TRUE(thread.decoded.empty());
  EXPECT_EQ(thread.sequence.TrainCount(), 1);
}

TEST_F(UsbCaptureTest, CommandOrderZeroOrNegativeDecodesEveryTrain) {
  InstallLibrary();
  thread.settings.CommandOrder = -4;
  receiver.QueueTrain({1});
  receiver.QueueTrain({2});
  Run();
  EXPECT_EQ(thread.decoded.size(), 2u);
  EXPECT_EQ(thread.sequence.TrainCount(), 0);
}

// --- Conversion ---------------------------------------------------------------------

TEST(UsbConversion, TicksPerSecondIsRoundedHalvesToEven) {
  EXPECT_EQ(UsbWholeTicksPerSecond(1000000.4), 1000000);
  EXPECT_EQ(UsbWholeTicksPerSecond(1000000.5), 1000000);
  EXPECT_EQ(UsbWholeTicksPerSecond(1000001.5), 1000002);
  EXPECT_EQ(UsbWholeTicksPerSecond(3579545.0), 3579545);
}

TEST(UsbConversion, UnusableFrequenciesGiveNoOverflow) {
  EXPECT_EQ(UsbWholeTicksPerSecond(0.0), 0);
  EXPECT_EQ(UsbWholeTicksPerSecond(-5.0), 0);
  EXPECT_EQ(UsbWholeTicksPerSecond(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(UsbWholeTicksPerSecond(std::numeric_limits<double>::infinity()), 0);
  const int64_t limited = UsbWholeTicksPerSecond(1e300);
  EXPECT_GT(limited, 0);
  EXPECT_GT(UsbDurationTicks(255, limited), 0);
}

TEST(UsbConversion, DurationUsesIntegerDivisionOfTheWholeProduct) {
  EXPECT_EQ(UsbDurationTicks(12, 1000000), 1024);
  // 1 x 10000000 x 1024 / 12000000 = 853.33: the remainder is dropped.
  EXPECT_EQ(UsbDurationTicks(1, 10000000), 853);
  EXPECT_EQ(UsbDurationTicks(255, 2'900'000'000LL), 255LL * 2'900'000'000LL * 1024 / 12000000);
}

TEST(UsbConversion, BuildingNeverWritesPastTheTrain) {
  PulseTrain train;
  const std::vector<uint8_t> too_many(1000, 1);
  BuildUsbPulseTrain(too_many, 12000000.0, train);
  EXPECT_EQ(train.LastEdgeIndex, kEdgeCapacity - 1);
  EXPECT_EQ(train.Edges[kEdgeCapacity - 1].Status, 1u);
}

TEST(UsbConversion, PollOutcomes) {
  EXPECT_EQ(ClassifyUsbPoll(0, 1), UsbPollOutcome::kTrain);
  EXPECT_EQ(ClassifyUsbPoll(0, 255), UsbPollOutcome::kTrain);
  EXPECT_EQ(ClassifyUsbPoll(0, 0), UsbPollOutcome::kNoTrain);
  EXPECT_EQ(ClassifyUsbPoll(1, 12), UsbPollOutcome::kNoTrain);
  EXPECT_EQ(ClassifyUsbPoll(0, 256), UsbPollOutcome::kBadCount);
  EXPECT_EQ(ClassifyUsbPoll(0, -1), UsbPollOutcome::kBadCount);
}

}  // namespace
}  // namespace sfh56
