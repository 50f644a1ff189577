#include "receiver/comm_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/identity.h"
#include "config/configuration_cycle.h"
#include "platform/sim/sim_platform.h"
#include "tests/config/scripted_config_box.h"
#include "tests/receiver/receiver_doubles.h"

namespace sfh56 {
namespace {

using platform::RootKey;
using test_doubles::CaptureLog;
using test_doubles::FakeHost;
using test_doubles::ScriptedCapture;
using test_doubles::WaitUntil;
using Mode = ScriptedCapture::Mode;
namespace prio = platform::priority;

const std::string kKeyPath = std::string(kSettingsKeyPrefix) + kPluginName;
constexpr uint32_t kNormalClass = 0x20;

class CommThreadTest : public ::testing::Test {
 protected:
  TCommThread& Make(Mode serial_mode = Mode::kServe, Mode usb_mode = Mode::kServe) {
    receiver_ = std::make_unique<TCommThread>(sim_.platform(), host_);
    auto serial =
        std::make_unique<ScriptedCapture>(serial_log_, serial_mode, *receiver_, sim_.scheduler);
    auto usb = std::make_unique<ScriptedCapture>(usb_log_, usb_mode, *receiver_, sim_.scheduler);
    serial_ = serial.get();
    usb_ = usb.get();
    receiver_->SetSerialCapture(std::move(serial));
    receiver_->SetUsbCapture(std::move(usb));
    return *receiver_;
  }

  void TearDown() override {
    if (serial_) serial_->release.Open();
    if (usb_) usb_->release.Open();
    host_.release_delivery.Open();
    if (receiver_) {
      EXPECT_TRUE(receiver_->TerminateAndWait());
    }
  }

  void PlantText(const std::string& name, const std::string& text,
                 RootKey root = RootKey::kCurrentUser) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    sim_.registry.PutRaw(root, kKeyPath, name, platform::kRegSz, bytes);
  }
  void PlantByte(const std::string& name, uint8_t value) {
    sim_.registry.PutRaw(RootKey::kCurrentUser, kKeyPath, name, platform::kRegBinary, {value});
  }

  sim::SimPlatform sim_;
  FakeHost host_;
  std::shared_ptr<CaptureLog> serial_log_ = std::make_shared<CaptureLog>();
  std::shared_ptr<CaptureLog> usb_log_ = std::make_shared<CaptureLog>();
  ScriptedCapture* serial_ = nullptr;
  ScriptedCapture* usb_ = nullptr;
  std::unique_ptr<TCommThread> receiver_;
};

// --- Construction -------------------------------------------------------------------------

TEST_F(CommThreadTest, ConstructionGivesDefaultsAndCalibratesWithoutRunningTheThread) {
  TCommThread& r = Make();
  EXPECT_EQ(sim_.registry.OpenCalls(), 0) << "settings are loaded by the thread, later";
  EXPECT_EQ(r.Settings().ComName, "COM1");
  EXPECT_EQ(r.Settings().InputSignal, 1);
  EXPECT_EQ(r.Settings().CommandOrder, 0);
  EXPECT_EQ(r.Settings().BitMask, 16);
  EXPECT_EQ(r.Settings().PriorityLevel, 7);
  EXPECT_FALSE(r.Settings().ServiceMode);
  EXPECT_FALSE(r.Settings().AllowRing0) << "NT without the hardware-access driver";
  EXPECT_EQ(r.Train().LastEdgeIndex, -1);
  EXPECT_FALSE(r.Running());
  EXPECT_FALSE(r.Delivering());
  EXPECT_TRUE(r.Time().TscAvailable);
  EXPECT_FALSE(r.Time().CounterTooSlow);
  EXPECT_EQ(r.Time().TicksPerSecond, 10'000'000.0) << "performance counter";
  EXPECT_EQ(r.Train().TicksPerSecond, 10'000'000.0);
  EXPECT_EQ(r.Time().EdgeGapTicks, 128'000);
}

TEST_F(CommThreadTest, Ring0IsPossibleOnWindows9xWithATimeStampCounterOnly) {
  sim_.platform().platform_id = platform::kPlatformWin32Windows;
  TCommThread& r = Make();
  EXPECT_TRUE(r.Ring0Possible());
  EXPECT_TRUE(r.Settings().AllowRing0);
  EXPECT_EQ(r.Time().TicksPerSecond, 2'400'000'000.0)
      << "ring-0 capture timestamps with the time-stamp counter, so it is calibrated";
}

TEST_F(CommThreadTest, WithoutATimeStampCounterRing0IsNeverPossible) {
  sim_.platform().platform_id = platform::kPlatformWin32Windows;
  sim_.counters.SetHasTimeStampCounter(false);
  sim_.counters.SetReadCostNs(50'000);  // a slow counter does not matter without a TSC
  TCommThread& r = Make();
  EXPECT_FALSE(r.Ring0Possible());
  EXPECT_FALSE(r.Settings().AllowRing0);
  EXPECT_FALSE(r.Time().CounterTooSlow);
  EXPECT_EQ(r.Time().TicksPerSecond, 10'000'000.0);
}

// --- Start, stop, terminate -----------------------------------------------------------

TEST_F(CommThreadTest, FirstStartLoadsTheSettingsThenTakesTheStart) {
  host_.root = RootKey::kLocalMachine;
  PlantText("ComName", "COM7", RootKey::kLocalMachine);
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.Running());
  const auto runs = serial_log_->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].com_name, "COM7") << "loaded from the host's root before the capture";
}

TEST_F(CommThreadTest, StopWhileIdleIsAcknowledgedAtOnce) {
  TCommThread& r = Make();
  EXPECT_TRUE(r.Stop()) << "first Stop resumes the thread; the idle wait acknowledges";
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.Stop());
  EXPECT_TRUE(r.Stop());
  EXPECT_FALSE(r.Running());
  EXPECT_EQ(serial_log_->Runs().size(), 1u);
}

TEST_F(CommThreadTest, StartWhileCapturingAcknowledgesWithoutReopening) {
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.Start());
  EXPECT_EQ(serial_log_->Runs().size(), 1u);
  EXPECT_TRUE(r.Stop());
  EXPECT_TRUE(r.Start());
  EXPECT_EQ(serial_log_->Runs().size(), 2u) << "a start after a stop opens again";
}

TEST_F(CommThreadTest, ClosingANeverStartedObjectEndsTheThread) {
  TCommThread& r = Make();
  EXPECT_TRUE(r.TerminateAndWait());
  EXPECT_EQ(sim_.registry.OpenCalls(), 1) << "the thread still loaded the settings";
  EXPECT_TRUE(serial_log_->Runs().empty());
  EXPECT_TRUE(r.TerminateAndWait()) << "asking again is harmless";
}

TEST_F(CommThreadTest, TerminateSignalledWithStartWinsAndNothingOpens) {
  TCommThread& r = Make();
  r.StartEvent().Set();
  r.StopEvent().Set();
  r.TerminateEvent().Set();
  EXPECT_TRUE(r.TerminateAndWait());
  EXPECT_TRUE(serial_log_->Runs().empty());
  EXPECT_TRUE(usb_log_->Runs().empty());
}

TEST_F(CommThreadTest, TerminateWhileCapturingEndsTheCaptureAndTheThread) {
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.TerminateAndWait());
  EXPECT_TRUE(r.Terminated());
}

TEST_F(CommThreadTest, DestroyingARunningObjectEndsItsThreadFirst) {
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  receiver_.reset();  // must neither hang nor leave the thread on freed events
  serial_ = usb_ = nullptr;
  SUCCEED();
}

TEST_F(CommThreadTest, CaptureThatFailsToOpenLeavesCaptureStopped) {
  TCommThread& r = Make(Mode::kFailOpen);
  EXPECT_FALSE(r.Start());
  EXPECT_FALSE(r.Running());
  EXPECT_TRUE(r.Stop()) << "back in the idle wait";
  EXPECT_FALSE(r.Start()) << "each start tries to open again";
  EXPECT_EQ(serial_log_->Runs().size(), 2u);
}

// --- Dispatch by port name ------------------------------------------------------------

struct DispatchCase {
  const char* com_name;
  bool usb;
};

class DispatchTest : public CommThreadTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTest, OnlyExactlyUsbSelectsTheUsbCapture) {
  PlantText("ComName", GetParam().com_name);
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  EXPECT_EQ(usb_log_->Runs().size(), GetParam().usb ? 1u : 0u);
  EXPECT_EQ(serial_log_->Runs().size(), GetParam().usb ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(PortNames, DispatchTest,
                         ::testing::Values(DispatchCase{"USB", true}, DispatchCase{"usb", false},
                                           DispatchCase{"Usb", false}, DispatchCase{"USB1", false},
                                           DispatchCase{"COM2", false}));

// --- Priority levels ------------------------------------------------------------------

struct PriorityCase {
  uint8_t level;
  int thread_priority;
  bool realtime;
};

class PriorityTest : public CommThreadTest, public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(PriorityTest, LevelSetsThreadPriorityAndRealtimeClassForTheRunOnly) {
  const PriorityCase c = GetParam();
  sim_.scheduler.SetInitialProcessPriorityClass(kNormalClass);
  PlantByte("PriorityLevel", c.level);
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  const auto runs = serial_log_->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].priority_level, c.level);
  EXPECT_EQ(runs[0].thread_priority, c.thread_priority);
  EXPECT_EQ(runs[0].process_class, c.realtime ? prio::kRealtimeClass : kNormalClass);
  EXPECT_EQ(runs[0].keep_interrupts_on, c.level < 8);
  EXPECT_TRUE(r.Stop());
  EXPECT_TRUE(r.Stop());  // the restore has run once the idle wait answers
  const std::vector<uint32_t> expected =
      c.realtime ? std::vector<uint32_t>{prio::kRealtimeClass, kNormalClass}
                 : std::vector<uint32_t>{};
  EXPECT_EQ(sim_.scheduler.ProcessPriorityClassHistory(), expected);
  EXPECT_EQ(sim_.scheduler.GetProcessPriorityClass(), kNormalClass);
}

INSTANTIATE_TEST_SUITE_P(Levels, PriorityTest,
                         ::testing::Values(PriorityCase{0, prio::kIdle, false},
                                           PriorityCase{1, prio::kLowest, false},
                                           PriorityCase{2, prio::kBelowNormal, false},
                                           PriorityCase{3, prio::kNormal, false},
                                           PriorityCase{4, prio::kAboveNormal, false},
                                           PriorityCase{5, prio::kHighest, false},
                                           PriorityCase{6, prio::kTimeCritical, false},
                                           PriorityCase{7, prio::kTimeCritical, true},
                                           PriorityCase{8, prio::kTimeCritical, true},
                                           PriorityCase{255, prio::kTimeCritical, true}));

TEST_F(CommThreadTest, RealtimeClassIsRestoredAfterACaptureThatFailedToOpen) {
  sim_.scheduler.SetInitialProcessPriorityClass(0x80);  // high
  TCommThread& r = Make(Mode::kFailOpen);
  EXPECT_FALSE(r.Start());
  EXPECT_TRUE(r.Stop());
  EXPECT_EQ(sim_.scheduler.ProcessPriorityClassHistory(),
            (std::vector<uint32_t>{prio::kRealtimeClass, 0x80}));
}

TEST_F(CommThreadTest, UnreadableProcessClassIsNotRestored) {
  sim_.scheduler.SetInitialProcessPriorityClass(0);  // GetPriorityClass failed
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.Stop());
  EXPECT_TRUE(r.Stop());
  EXPECT_EQ(sim_.scheduler.ProcessPriorityClassHistory(),
            (std::vector<uint32_t>{prio::kRealtimeClass}));
}

TEST(PriorityPlanFor, MapsEveryLevel) {
  EXPECT_EQ(PriorityPlanFor(0).ThreadPriority, prio::kIdle);
  EXPECT_FALSE(PriorityPlanFor(6).RealtimeClass);
  EXPECT_TRUE(PriorityPlanFor(7).RealtimeClass);
  EXPECT_TRUE(PriorityPlanFor(200).RealtimeClass);
}

// --- Delivering and time limits -------------------------------------------------------

TEST_F(CommThreadTest, WhileDeliveringHostCallsDoNotWaitForTheReceiver) {
  host_.block_delivery = true;
  TCommThread& r = Make(Mode::kDeliverThenServe);
  EXPECT_TRUE(r.Start());
  host_.WaitUntilDelivering();
  ASSERT_TRUE(r.Delivering());
  const size_t waits_before = sim_.scheduler.HostWaitTimeouts().size();

  EXPECT_FALSE(r.Stop()) << "no wait: reports the running state as it is";
  EXPECT_TRUE(r.Start());
  EXPECT_FALSE(r.TerminateAndWait()) << "fails at once; the owner keeps the object";
  EXPECT_EQ(sim_.scheduler.HostWaitTimeouts().size(), waits_before) << "nobody waited";

  host_.release_delivery.Open();
  while (r.Delivering()) std::this_thread::yield();
  EXPECT_TRUE(r.TerminateAndWait()) << "the terminate request wins over start and stop";
  EXPECT_EQ(host_.Codes(), std::vector<std::string>{"1A2B"});
}

// Of the requests made while a delivery held the receiver, the host's last holds, and
// the one it cancels costs nothing: a stop then start leaves the capture run running
// (one run, the port never closed), a start then stop opens nothing more.
TEST_F(CommThreadTest, RequestsHeldByADeliveryCancelEachOtherTheLastHolds) {
  struct Case {
    std::vector<bool> starts;  // the requests, true for a start
    bool running;
    size_t runs;
  } cases[] = {
      {{false, true}, true, 1},         {{true, false}, false, 1},
      {{false, true, false}, false, 1}, {{false, false, true}, true, 1},
      {{true, false, true}, true, 1},
  };
  for (const Case& c : cases) {
    FakeHost host;
    host.block_delivery = true;
    auto log = std::make_shared<CaptureLog>();
    TCommThread r(sim_.platform(), host);
    r.SetSerialCapture(
        std::make_unique<ScriptedCapture>(log, Mode::kDeliverThenServe, r, sim_.scheduler));
    ASSERT_TRUE(r.Start());
    host.WaitUntilDelivering();
    for (bool start : c.starts) start ? r.Start() : r.Stop();
    host.release_delivery.Open();
    auto* start_event = dynamic_cast<sim::SimEvent*>(&r.StartEvent());
    auto* stop_event = dynamic_cast<sim::SimEvent*>(&r.StopEvent());
    // Served in the background; a wrong order settles in the wrong state and stays there.
    WaitUntil([&] {
      return !(start_event->IsSet() || stop_event->IsSet() || r.Delivering() ||
               r.Running() != c.running || host.Codes().size() != c.runs);
    });
    EXPECT_EQ(r.Running(), c.running) << c.starts.size() << " requests";
    EXPECT_EQ(log->Runs().size(), c.runs) << c.starts.size() << " requests";
    EXPECT_TRUE(r.Stop()) << "the next request is answered";
    EXPECT_TRUE(r.TerminateAndWait());
  }
}

// A delivery that begins while a host thread waits for the receiver may need that thread
// (a message to the host's window): the wait ends then, not at its time limit.
TEST_F(CommThreadTest, HostWaitsEndWhenADeliveryBeginsDuringThem) {
  sim_.scheduler.SetRealTimeScale(0.01);  // a wait that ran into its limit: 200 or 300 ms
  for (const bool close : {false, true}) {
    FakeHost host;
    host.block_delivery = true;
    TCommThread r(sim_.platform(), host);
    r.SetSerialCapture(
        std::make_unique<ScriptedCapture>(serial_log_, Mode::kDeliverOnRequest, r, sim_.scheduler));
    ASSERT_TRUE(r.Start());
    const int timed_out = sim_.scheduler.HostWaitsTimedOut();
    EXPECT_FALSE(close ? r.TerminateAndWait() : r.Stop()) << "held by the delivery";
    EXPECT_EQ(sim_.scheduler.HostWaitsTimedOut(), timed_out) << (close ? "close" : "stop");
    host.release_delivery.Open();
    while (r.Delivering()) std::this_thread::yield();
    EXPECT_TRUE(r.TerminateAndWait());
  }
}

// Once the thread has ended nothing captures, and requests are answered without a wait.
TEST_F(CommThreadTest, AReceiverWhoseThreadHasEndedAnswersAtOnce) {
  sim_.scheduler.SetRealTimeScale(0.001);
  TCommThread& r = Make();
  EXPECT_TRUE(r.Start());
  EXPECT_TRUE(r.TerminateAndWait());
  const size_t waits = sim_.scheduler.HostWaitTimeouts().size();
  EXPECT_FALSE(r.Start());
  EXPECT_TRUE(r.Stop());
  EXPECT_FALSE(r.Running());
  EXPECT_EQ(sim_.scheduler.HostWaitTimeouts().size(), waits) << "nobody waited";
}

TEST_F(CommThreadTest, AcknowledgementAndTerminationWaitsHaveTheirLimits) {
  sim_.scheduler.SetRealTimeScale(0.0005);
  TCommThread& r = Make(Mode::kHangUntilReleased);
  EXPECT_FALSE(r.Start()) << "no acknowledgement within the limit";
  EXPECT_EQ(sim_.scheduler.HostWaitTimeouts().back(), kAckTimeoutMs);
  EXPECT_EQ(kAckTimeoutMs, 20000u);
  EXPECT_FALSE(r.TerminateAndWait()) << "the thread hangs in its capture";
  EXPECT_EQ(sim_.scheduler.HostWaitTimeouts().back(), kTerminateTimeoutMs);
  EXPECT_EQ(kTerminateTimeoutMs, 30000u);
  serial_->release.Open();
  sim_.scheduler.SetRealTimeScale(1.0);
  EXPECT_TRUE(r.TerminateAndWait());
}

// A capture still starting when the host stopped waiting (its hardware warning waits for
// the user) reads as not running, yet it will read the settings any moment: the
// configuration cycle must not write them then.
TEST_F(CommThreadTest, AStartNotYetAnsweredKeepsTheConfigurationCycleOffTheSettings) {
  sim_.scheduler.SetRealTimeScale(0.0005);
  TCommThread& r = Make(Mode::kHangUntilReleased);
  EXPECT_FALSE(r.Start());
  EXPECT_TRUE(r.StartPending());
  testing::ScriptedConfigBox box(kModalResultOk);
  EXPECT_EQ(r.RunConfiguration(box), ConfigurationOutcome::kReceiverBusy);
  EXPECT_EQ(box.shows, 0);

  // The run ends without starting; the cycle's stop request, still standing, is answered.
  serial_->release.Open();
  WaitUntil([&] { return !r.StartPending(); }, 10000);
  EXPECT_FALSE(r.StartPending());
  EXPECT_FALSE(r.Running());
  EXPECT_EQ(r.RunConfiguration(box), ConfigurationOutcome::kConfirmed);
  EXPECT_EQ(box.shows, 1);
  EXPECT_FALSE(r.Running()) << "a capture that was not running is not started";
}

// --- Requests during a capture, held at a chosen virtual instant ----------------------

// A capture that, at each signal of a device, records a burst of 30 one-millisecond
// samples before it looks at requests again, as serial capture does with a train.
class BurstCapture : public CaptureRun {
 public:
  class Device : public sim::VirtualWaitable {
   public:
    std::optional<int64_t> NextSignalNs(int64_t now_ns) override {
      return fired_ ? std::nullopt : std::optional<int64_t>(std::max(now_ns, kSignalNs));
    }
    void OnWaitSatisfied() override { fired_ = true; }
    static constexpr int64_t kSignalNs = 10'000'000;

   private:
    bool fired_ = false;
  };

  void Run(const CaptureSeams& seams) override {
    seams.control.Acknowledge(true);
    Device device;
    for (;;) {
      const Wake wake = seams.control.Wait(platform::kWaitInfinite, &device);
      if (wake == Wake::kDevice) {
        for (int i = 0; i < 30; ++i) scheduler->SleepMs(1);
        burst_end_ns = sim_clock->NowNs();
        continue;
      }
      if (AnswerRequest(seams.control, wake) != RequestAnswer::kGoOn) return;
    }
  }

  sim::SimClock* sim_clock = nullptr;
  platform::Scheduler* scheduler = nullptr;
  std::atomic<int64_t> burst_end_ns{-1};
};

TEST_F(CommThreadTest, StopDuringABurstIsServedAfterTheBurst) {
  TCommThread& r = Make();
  auto capture = std::make_unique<BurstCapture>();
  capture->sim_clock = &sim_.clock;
  capture->scheduler = &sim_.scheduler;
  BurstCapture& burst = *capture;
  r.SetSerialCapture(std::move(capture));
  serial_ = nullptr;

  sim_.clock.PauseAt(25'000'000);  // 15 ms into the burst
  EXPECT_TRUE(r.Start());
  sim_.clock.WaitUntilPaused();
  EXPECT_EQ(burst.burst_end_ns.load(), -1);

  std::atomic<bool> stopped{false};
  std::thread host_thread([&] { stopped = r.Stop(); });
  auto* stop_event = dynamic_cast<sim::SimEvent*>(&r.StopEvent());
  ASSERT_NE(stop_event, nullptr);
  while (!stop_event->IsSet()) std::this_thread::yield();
  sim_.clock.Resume();
  host_thread.join();

  EXPECT_TRUE(stopped.load());
  EXPECT_EQ(burst.burst_end_ns.load(), 40'000'000) << "the burst was finished first";
  EXPECT_FALSE(r.Running());
}

}  // namespace
}  // namespace sfh56
