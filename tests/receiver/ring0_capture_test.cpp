// Ring-0 capture on the simulated platform: the routine's loop over the simulated machine
// (its UART's modem-status register follows a waveform on the virtual clock), one train
// through the driver and Windows 9x routes with drivers that answer wrongly and routines
// that fault, and serial capture with AllowRing0 through TCommThread, down to the codes
// the host receives.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/identity.h"
#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "hwaccess/hardware_driver.h"
#include "platform/sim/sim_platform.h"
#include "receiver/comm_thread.h"
#include "receiver/ring0_capture.h"
#include "receiver/ring0_routine.h"
#include "receiver/time_base.h"
#include "tests/hwaccess/device_registry_fixtures.h"
#include "tests/hwaccess/scripted_driver_library.h"
#include "tests/receiver/receiver_doubles.h"
#include "tests/support/serial_offline_codes.h"
#include "tools/replay/durations.h"
#include "tools/replay/recordings.h"

namespace sfh56 {
namespace {

using sim::WaveformBuilder;

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;
constexpr int64_t kSecond = 1000 * kMs;
constexpr uint16_t kBase = 0x3F8;
constexpr uint32_t kDsr = 0x20;

// --- The routine ---------------------------------------------------------------------------

// The routine on a machine whose time-stamp counter counts nanoseconds and whose port and
// counter reads take 500 ns each: sample k of a run started at T0 reads the line at, and
// is stamped, T0 + (k + 1) us.
struct RoutineRig {
  struct Result {
    std::vector<EdgeRecord> records;
    int64_t reads = 0;
    sim::SimMachine::Stats stats;
  };

  RoutineRig() {
    sim_.counters.SetTimeStampFrequency(1'000'000'000);
    sim_.counters.SetReadCostNs(500);
    TimeBase(sim_.counters, sim_.scheduler).SetTimeBase(1'000'000'000);
  }

  // Runs the routine once at virtual time start over the waveform on COM1's DSR line.
  Result Run(const sim::PinWaveform& waveform, int64_t start, bool keep_interrupts_on = true,
             int32_t msr_port = kBase + 6) {
    sim::SimPortConfig config;
    config.waveform = waveform;
    config.io_base = kBase;
    config.register_read_cost_ns = 500;
    sim_.serial_ports.AddPort("COM1", config);
    auto port = sim_.serial_ports.Open("COM1");
    port->Escape(platform::EscapeFunction::kSetRts);
    port->Escape(platform::EscapeFunction::kSetDtr);
    sim_.clock.AdvanceTo(start);
    g_ring0.MsrPort = msr_port;
    g_ring0.SignalMask = kDsr;
    g_ring0.KeepInterruptsOn = keep_interrupts_on;
    g_ring0.Train.SetPrevStatus(kDsr);
    sim_.ring0.machine.ResetStats();
    const int64_t reads_before = sim_.serial_ports.RegisterReads();
    const int32_t count = SimulatedRing0PollRoutine(&sim_.ring0.machine);
    EXPECT_EQ(count, g_ring0.Ring0EdgeCount);
    Result result;
    result.records.assign(g_ring0.Ring0Buffer.begin(), g_ring0.Ring0Buffer.begin() + count);
    result.reads = sim_.serial_ports.RegisterReads() - reads_before;
    result.stats = sim_.ring0.machine.GetStats();
    return result;
  }

  sim::SimPlatform sim_;
};

TEST(Ring0Routine, TrainsEndByTheWindowTheGapOrTheThreeHundredthRecord) {
  const int64_t t0 = kSecond;
  struct Case {
    const char* name;
    sim::PinWaveform waveform;
    size_t records;
    int64_t reads;  // samples until the end test fired
  };
  // Edges on the microsecond grid are seen by the sample at their instant.
  const Case cases[] = {
      // Below ten edges a train ends with the first sample later than 30 ms after its
      // start, however the edges are spaced: the sample at exactly 30 ms does not end it.
      {"quiet line", WaveformBuilder(t0).Build(), 0, 30001},
      {"noise burst, three edges far apart",
       WaveformBuilder(t0 + 1 * kMs)
           .Level(false)
           .Hold(14000)
           .Level(true)
           .Hold(14500)
           .Level(false)
           .Build(),
       3, 30001},
      {"nine edges, the last at 29 ms",
       WaveformBuilder(t0 + 21 * kMs).Noise(1000, 8).Level(false).Build(), 9, 30001},
      // From the tenth edge on, the first sample later than 12.8 ms after the last edge.
      {"ten edges, the last at 10 ms", WaveformBuilder(t0 + 1 * kMs).Noise(1000, 10).Build(), 10,
       10000 + 12801},
      {"400 edges: the first 300 only", WaveformBuilder(t0 + 1 * kMs).Noise(10, 400).Build(), 300,
       1000 + 299 * 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RoutineRig rig;  // a machine and clock of its own
    const RoutineRig::Result r = rig.Run(c.waveform, t0);
    ASSERT_EQ(r.records.size(), c.records);
    EXPECT_EQ(r.reads, c.reads);
    // The levels alternate from the idle level on, each stamped at its change.
    for (size_t i = 0; i < r.records.size(); ++i) {
      EXPECT_EQ(r.records[i].Status, i % 2 == 0 ? 0u : kDsr) << i;
      EXPECT_EQ(r.records[i].Timestamp, c.waveform.changes[i].at_ns) << i;
    }
    EXPECT_EQ(g_ring0.Train.PrevStatus(), c.records % 2 == 0 ? kDsr : 0u);
    EXPECT_EQ(g_ring0.LastEdgeTime, r.records.empty() ? t0 : r.records.back().Timestamp);
  }
}

TEST(Ring0Routine, MoreThanHalfASecondSinceTheLastEdgeStartsANewSequence) {
  for (const auto& [since_last, expected_count] :
       std::vector<std::pair<int64_t, int32_t>>{{500'000'000, 5}, {500'000'001, 0}}) {
    RoutineRig rig;
    g_ring0.TrainCount = 5;
    g_ring0.LastEdgeTime = kSecond - since_last;
    rig.Run(WaveformBuilder(kSecond).Build(), kSecond);
    EXPECT_EQ(g_ring0.TrainCount, expected_count) << since_last;
  }
}

TEST(Ring0Routine, InterruptsStayOffForTheWholeTrainAtLevelEightOnlyAndComeBackAsTheyWere) {
  const auto burst = WaveformBuilder(kSecond + 1 * kMs).Noise(200, 20).Build();
  for (const bool keep_on : {true, false}) {
    for (const bool on_at_entry : {true, false}) {
      SCOPED_TRACE(std::to_string(keep_on) + std::to_string(on_at_entry));
      RoutineRig rig;
      if (!on_at_entry) rig.sim_.ring0.machine.DisableInterrupts();
      const RoutineRig::Result r = rig.Run(burst, kSecond, keep_on);
      EXPECT_EQ(r.records.size(), 20u);
      EXPECT_EQ(r.stats.port_reads, r.reads);
      EXPECT_EQ(r.stats.reads_with_interrupts_on, 0);
      EXPECT_EQ(r.stats.disables, r.reads + 1);
      EXPECT_EQ(r.stats.enables, keep_on ? r.reads : 0);
      EXPECT_EQ(r.stats.flag_restores, 1);
      EXPECT_EQ(r.stats.interrupts_on, on_at_entry);
      if (keep_on && on_at_entry) {
        EXPECT_EQ(r.stats.longest_interrupts_off_ns, 1500)
            << "the start's counter read, then one port and one counter read at a time";
      } else if (on_at_entry) {
        EXPECT_EQ(r.stats.longest_interrupts_off_ns, 1 * kMs + 19 * 200 * kUs + 12801 * kUs + 500)
            << "from the start to after the sample that ended the train";
      }
    }
  }
}

TEST(Ring0Routine, WithoutARegisterAddressNothingIsRead) {
  for (const int32_t msr_port : {0, 6, -1, 0x10005}) {
    SCOPED_TRACE(msr_port);
    RoutineRig rig;
    g_ring0.Ring0EdgeCount = 77;
    const RoutineRig::Result r =
        rig.Run(WaveformBuilder(kSecond).Noise(100, 5).Build(), kSecond, true, msr_port);
    EXPECT_TRUE(r.records.empty());
    EXPECT_EQ(r.reads, 0);
    EXPECT_EQ(g_ring0.Ring0EdgeCount, 0);
    EXPECT_TRUE(r.stats.interrupts_on);
  }
}

// --- One train through a route ---------------------------------------------------------------

// What the driver's RunRing0Function answers, given what the routine returned.
std::function<int32_t(int32_t)> g_driver_answer;
int32_t SFH_DRIVER_CALL AnsweringRunRing0(uint32_t, Ring0Routine routine, void* argument) {
  const int32_t result = routine(argument);
  return g_driver_answer ? g_driver_answer(result) : result;
}

struct RouteRig {
  RouteRig() {
    sim_.counters.SetTimeStampFrequency(1'000'000'000);
    sim::SimPortConfig config;
    config.waveform = WaveformBuilder(kSecond + 1 * kMs).Noise(300, 12).Build();
    config.io_base = kBase;
    sim_.serial_ports.AddPort("COM1", config);
    port_ = sim_.serial_ports.Open("COM1");
    port_->Escape(platform::EscapeFunction::kSetRts);
    port_->Escape(platform::EscapeFunction::kSetDtr);
    fixtures::PlantNt(sim_.registry, fixtures::XpPort("1", "COM1", kBase, 4));
    auto exports = library_.Exports(kRunRing0Function);
    exports[kRunRing0Function] =
        reinterpret_cast<void*>(static_cast<RunRing0FunctionFunction>(&AnsweringRunRing0));
    sim_.modules.AddLibrary(kDriverLibraryName, exports);
    TimeBase(sim_.counters, sim_.scheduler).SetTimeBase(1'000'000'000);
  }
  ~RouteRig() { g_driver_answer = nullptr; }

  // One train at 1 s with a sequence of two trains so far, the line set before it.
  PulseTrain CaptureOne() {
    ring0_.StartRun("COM1", kDsr, 7);
    sim_.clock.AdvanceTo(kSecond);
    PulseTrain train;
    for (auto& record : train.Edges) record = {0xDEAD, -1};
    line_.SetPrevStatus(kDsr);
    sequence_.Adopt(2, kSecond - 100 * kMs);
    ring0_.CaptureTrain(train, line_, sequence_, 1e9);
    return train;
  }

  sim::SimPlatform sim_;
  test_doubles::ScriptedDriverLibrary library_;
  std::unique_ptr<platform::SerialPort> port_;
  HardwareDriver driver_{sim_.platform()};
  Ring0Capture ring0_{sim_.platform(), driver_};
  TrainAssembler line_;
  SequenceRule sequence_;
};

TEST(Ring0Route, OnlyTheRecordsTheRoutineWroteAreCopiedWhateverTheDriverAnswers) {
  struct Case {
    const char* name;
    std::function<int32_t(int32_t)> answer;
    int records;
  };
  const Case cases[] = {
      {"the routine's count", nullptr, 12},
      {"negative", [](int32_t) { return -5; }, 0},
      {"more than 300", [](int32_t) { return 350; }, 12},
      {"more than the routine wrote", [](int32_t n) { return n + 1; }, 12},
      {"fewer than the routine wrote", [](int32_t) { return 4; }, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RouteRig rig;
    rig.library_.AnswerActive({1});
    rig.driver_.OpenHardwareDriver();
    ASSERT_TRUE(rig.driver_.DriverActive());
    g_driver_answer = c.answer;
    const PulseTrain train = rig.CaptureOne();
    EXPECT_EQ(train.LastEdgeIndex, c.records - 1);
    EXPECT_EQ(train.TicksPerSecond, 1e9);
    for (int i = 0; i < kEdgeCapacity; ++i) {
      if (i < c.records) {
        EXPECT_EQ(train.Edges[i].Status, i % 2 == 0 ? 0u : kDsr) << i;
      } else {
        EXPECT_EQ(train.Edges[i].Status, 0xDEADu) << "untouched beyond the valid records: " << i;
      }
    }
    EXPECT_EQ(rig.sequence_.TrainCount(), 2) << "100 ms since the last edge";
    EXPECT_EQ(rig.line_.PrevStatus(), kDsr) << "twelve edges: back at the idle level";
    EXPECT_TRUE(rig.sim_.message_boxes.ShownBoxes().empty());
  }
}

TEST(Ring0Route, AFaultInsideTheRoutineOrASwitchThatFailsGivesAnEmptyTrainAndTheBox) {
  struct Case {
    const char* name;
    bool driver;
    sim::SimRing0::InterruptRoute route;
    int64_t fault_at_read;
    int records;
  };
  const Case cases[] = {
      {"driver route, fault at the fifth read", true, sim::SimRing0::InterruptRoute::kRuns, 5, -1},
      {"Windows 9x route that runs", false, sim::SimRing0::InterruptRoute::kRuns, 0, 12},
      {"Windows 9x route that faults", false, sim::SimRing0::InterruptRoute::kFaults, 0, -1},
      {"no Windows 9x route in this build", false, sim::SimRing0::InterruptRoute::kMissing, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RouteRig rig;
    if (c.driver) {
      rig.library_.AnswerActive({1});
      rig.driver_.OpenHardwareDriver();
    }
    rig.sim_.ring0.SetInterruptRoute(c.route);
    rig.sim_.ring0.machine.FaultAtRead(c.fault_at_read);
    const PulseTrain train = rig.CaptureOne();
    const auto boxes = rig.sim_.message_boxes.ShownBoxes();
    if (c.records < 0) {
      EXPECT_EQ(train.LastEdgeIndex, -1);
      EXPECT_EQ(train.Edges[0].Status, 0xDEADu);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, "Error to switch to Ring0") << "not translated";
      EXPECT_EQ(boxes[0].caption, "Error");
      EXPECT_EQ(boxes[0].flags, platform::kMbOk);
      EXPECT_EQ(rig.sequence_.LastEdgeTicks(), kSecond - 100 * kMs) << "nothing taken back";
    } else {
      EXPECT_EQ(train.LastEdgeIndex, c.records - 1);
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(rig.sim_.ring0.InterruptRuns(), 1);
    }
  }
}

TEST(Ring0Route, APortWithoutAUsableIoBaseIsNotTakenForRing0) {
  struct Case {
    const char* name;
    uint16_t base;
    bool usable;
  };
  for (const Case& c : {Case{"COM1 at 3F8", 0x3F8, true}, Case{"no I/O range listed", 0, false},
                        Case{"at FFFA, beyond the I/O space", 0xFFFA, false}}) {
    SCOPED_TRACE(c.name);
    sim::SimPlatform sim;
    if (c.base != 0) {
      fixtures::PlantNt(sim.registry, fixtures::XpPort("1", "COM1", c.base, 4));
    } else {
      fixtures::NtInstance port = fixtures::XpPort("1", "COM1", 0x3F8, 4);
      port.resources = fixtures::CmList({fixtures::CmFull({fixtures::CmInterrupt(4, 4)})});
      fixtures::PlantNt(sim.registry, port);
    }
    HardwareDriver driver(sim.platform());
    Ring0Capture ring0(sim.platform(), driver);
    g_ring0.MsrPort = 0;
    EXPECT_EQ(ring0.StartRun("COM1", kDsr, 8), c.usable);
    EXPECT_EQ(g_ring0.MsrPort, c.usable ? c.base + 6 : 0);
    EXPECT_FALSE(ring0.StartRun("COM2", kDsr, 8)) << "not in the registry";
  }
}

// --- Serial capture with AllowRing0 ----------------------------------------------------------

const std::string kKeyPath = std::string(kSettingsKeyPrefix) + kPluginName;

struct ThreadRig {
  ThreadRig() {
    sim_.modules.AddLibrary(kDriverLibraryName, library_.Exports());
    fixtures::PlantNt(sim_.registry, fixtures::XpPort("1", "COM1", kBase, 4));
  }
  ~ThreadRig() {
    if (receiver_) {
      EXPECT_TRUE(receiver_->TerminateAndWait());
    }
  }

  // Windows 98 without the driver's library: COM1 at 3F8 in its device registry.
  void UseWindows9x() {
    sim_.platform().platform_id = platform::kPlatformWin32Windows;
    sim_.platform().os_major_version = 4;
    sim_.modules.RemoveLibrary(kDriverLibraryName);
    fixtures::PlantWindows98(sim_.registry);
  }
  TCommThread& Make() {
    receiver_ = std::make_unique<TCommThread>(sim_.platform(), host_);
    return *receiver_;
  }
  void PlantByte(const std::string& name, uint8_t value) {
    sim_.registry.PutRaw(platform::RootKey::kCurrentUser, kKeyPath, name, platform::kRegBinary,
                         {value});
  }
  // Presses on COM1's DSR line, the first at 2 s, one second apart. The routine samples
  // every microsecond (a port read of 600 ns, a counter read of 400 ns): fine enough for
  // the codes, and few enough samples for the sanitizer builds.
  void AddPresses(const std::vector<replay::Recording>& presses) {
    WaveformBuilder builder(2 * kSecond);
    for (const auto& press : presses) builder.Durations(press.durations_us).Pause(1000000);
    sim::SimPortConfig config;
    config.waveform = builder.Build();
    config.io_base = kBase;
    config.register_read_cost_ns = 600;
    sim_.serial_ports.AddPort("COM1", config);
    sim_.counters.SetReadCostNs(400);
  }
  std::vector<std::string> WaitForCodes(size_t count) {
    // Patience for the slowest (sanitizer) builds; a passing run waits only for the codes.
    for (int i = 0; i < 6000 && host_.Codes().size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return host_.Codes();
  }
  int Ring0Calls() const {
    int calls = 0;
    for (const std::string& call : library_.Calls()) calls += call.starts_with("ring0(") ? 1 : 0;
    return calls;
  }

  sim::SimPlatform sim_;
  test_doubles::ScriptedDriverLibrary library_;
  test_doubles::FakeHost host_;
  std::unique_ptr<TCommThread> receiver_;
};

TEST(Ring0Thread, PressesReachTheHostWithExactCodesThroughEitherRoute) {
  const auto presses = test::LoadSerialRemotes();
  // Cut by busy mode's end rules: the routine follows them at every level.
  const auto expected = test::OfflineSerialCodes(presses, true);
  struct Case {
    const char* name;
    bool windows9x;
    uint8_t priority_level;
  };
  for (const Case& c : {Case{"driver, level 8", false, 8}, Case{"driver, level 7", false, 7},
                        Case{"Windows 9x, level 8", true, 8}}) {
    SCOPED_TRACE(c.name);
    ThreadRig rig;
    rig.AddPresses(presses);
    rig.PlantByte("PriorityLevel", c.priority_level);
    if (c.windows9x) {
      rig.UseWindows9x();
    } else {
      rig.library_.AnswerActive({1});
    }
    TCommThread& receiver = rig.Make();
    ASSERT_TRUE(receiver.Start());
    EXPECT_TRUE(receiver.Settings().AllowRing0);
    EXPECT_EQ(receiver.Time().TicksPerSecond, 2'400'000'000.0) << "the time-stamp counter";
    EXPECT_EQ(rig.WaitForCodes(expected.size()), expected);
    EXPECT_TRUE(receiver.Stop());
    EXPECT_TRUE(rig.sim_.message_boxes.ShownBoxes().empty());
    const int runs = c.windows9x ? rig.sim_.ring0.InterruptRuns() : rig.Ring0Calls();
    EXPECT_GE(runs, static_cast<int>(expected.size())) << "every train from the routine";
    EXPECT_EQ(rig.sim_.serial_ports.StatusReads(), 1) << "only the receiver check's read";
    const sim::SimMachine::Stats stats = rig.sim_.ring0.machine.GetStats();
    EXPECT_EQ(stats.reads_with_interrupts_on, 0);
    EXPECT_EQ(stats.flag_restores, runs);
    EXPECT_TRUE(stats.interrupts_on);
    if (c.priority_level == 8) {
      EXPECT_EQ(stats.enables, 0) << "interrupts back on only by the flags of each run";
      EXPECT_GT(stats.longest_interrupts_off_ns, 30 * kMs);
    } else {
      EXPECT_EQ(stats.enables, stats.port_reads);
      EXPECT_LE(stats.longest_interrupts_off_ns, 2 * kUs);
    }
  }
}

TEST(Ring0Thread, APortTheLookupCannotFindFallsBackToTheThreadsPollingUntilTheNextLoad) {
  const auto all = test::LoadSerialRemotes();
  const std::vector<replay::Recording> press{all[0]};
  for (const bool counter_too_slow : {false, true}) {
    SCOPED_TRACE(counter_too_slow);
    ThreadRig rig;
    rig.sim_.registry.DeleteKey(platform::RootKey::kLocalMachine, fixtures::kNtEnum);
    rig.AddPresses(press);
    rig.PlantByte("AllowRing0", 1);
    rig.library_.AnswerActive({1});
    if (counter_too_slow) rig.sim_.counters.SetReadCostNs(25'000);
    TCommThread& receiver = rig.Make();
    if (counter_too_slow) rig.sim_.counters.SetReadCostNs(1'000);
    ASSERT_TRUE(receiver.Start());
    EXPECT_FALSE(receiver.Settings().AllowRing0) << "cleared in memory";
    EXPECT_EQ(receiver.Time().TicksPerSecond, counter_too_slow ? 2'400'000'000.0 : 10'000'000.0);
    const auto expected = test::OfflineSerialCodes(press, true);
    EXPECT_EQ(rig.WaitForCodes(expected.size()), expected);
    EXPECT_TRUE(receiver.Stop());
    EXPECT_EQ(rig.Ring0Calls(), 0);
    receiver.LoadSettings();
    EXPECT_TRUE(receiver.Settings().AllowRing0) << "back with the next load";
  }
}

TEST(Ring0Thread, AFailingWindows9xSwitchShowsItsBoxPerTrainAndTheReceiverKeepsServing) {
  const auto all = test::LoadSerialRemotes();
  ThreadRig rig;
  rig.AddPresses({all[0], all[1]});
  rig.UseWindows9x();
  rig.sim_.ring0.SetInterruptRoute(sim::SimRing0::InterruptRoute::kFaults);
  TCommThread& receiver = rig.Make();
  ASSERT_TRUE(receiver.Start());
  for (int i = 0; i < 1000 && rig.sim_.message_boxes.ShownBoxes().size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(receiver.Stop());
  EXPECT_TRUE(receiver.Start());
  EXPECT_TRUE(receiver.Stop());
  const auto boxes = rig.sim_.message_boxes.ShownBoxes();
  ASSERT_GE(boxes.size(), 2u) << "one per comm event: each tries again";
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, "Error to switch to Ring0");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.flags, platform::kMbOk);
  }
  EXPECT_TRUE(rig.host_.Codes().empty()) << "empty trains decode to nothing";
  EXPECT_EQ(rig.sim_.ring0.machine.GetStats().port_reads, 0);
}

}  // namespace
}  // namespace sfh56
