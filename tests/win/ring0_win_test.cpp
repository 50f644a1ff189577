// The ring-0 routine's real instructions on Windows, in user mode, where `in`, `cli` and
// `sti` fault: an emulator (tests/win/privileged_emulator.h) answers them, so the routine
// runs to completion and what does not depend on time is checked: the records follow the
// waveform, timestamps rise, each train ends by its rule, and the interrupt flag is handled
// as the priority level asks. Then the guard around a ring-0 call and the Windows 9x
// route, which cannot reach ring 0 here and must fail cleanly.

// The platform headers come before <windows.h>, whose macros rename CreateEvent and
// ReadTimeStampCounter.
#include "platform/win32/win32_platform.h"
#include "receiver/ring0_routine.h"
#include "receiver/time_base.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "tests/win/privileged_emulator.h"

namespace sfh56 {
namespace {

using wintest::EmulatedClock;
using wintest::EmulatedPrivilegedInstructions;
using wintest::EmulatedStats;

constexpr int32_t kPortBase = 0x3F8;
constexpr uint8_t kDsr = 0x20;
// Bits of the register that are not the input line: they change with it and between
// its edges, and must never make an edge of their own.
constexpr uint8_t kCts = 0x10;
constexpr uint8_t kDcd = 0x80;

// Runs body on a thread of its own, as the receiver thread runs the routine: no handler
// of the test framework's sits above a fault there.
DWORD WINAPI RunBody(void* body) {
  (*static_cast<std::function<void()>*>(body))();
  return 0;
}

void OnOwnThread(std::function<void()> body) {
  HANDLE thread = CreateThread(nullptr, 0, &RunBody, &body, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

class Ring0RoutineWin : public ::testing::Test {
 protected:
  void SetUp() override {
    TimeBase time_base(win32_.counters, win32_.scheduler);
    time_base.TscAvailable = time_base.HasTimeStampCounter();
    ASSERT_TRUE(time_base.TscAvailable);
    time_base.Calibrate(true);  // the time-stamp counter, and the routine's threshold copies
    g_ring0.MsrPort = kPortBase + kModemStatusRegister;
    g_ring0.SignalMask = kDsr;
    g_ring0.KeepInterruptsOn = true;
    g_ring0.TrainCount = 0;
    g_ring0.LastEdgeTime = 0;
    g_ring0.Train.SetPrevStatus(kDsr);  // the receiver idles with the pin set
  }

  // The routine once over the waveform; its records. Asked for EmulatedClock::kVirtual,
  // clock tells whether the virtual clock could be had (the routine runs only then).
  std::vector<EdgeRecord> Run(std::vector<std::pair<int64_t, uint8_t>> waveform, uint8_t rest,
                              EmulatedStats& stats, EmulatedClock* clock = nullptr,
                              int64_t start_ns = 0) {
    int32_t count = 0;
    bool installed = false;
    uintptr_t flags_before = 0;
    uintptr_t flags_after = 0;
    {
      // Nothing but the routine runs while the emulator (and a virtual clock) is in force.
      EmulatedPrivilegedInstructions emulated(
          std::move(waveform), rest, clock != nullptr ? *clock : EmulatedClock::kByRead, start_ns);
      installed = emulated.Installed();
      if (clock != nullptr) *clock = emulated.Clock();
      if (installed && (clock == nullptr || *clock == EmulatedClock::kVirtual)) {
        flags_before = platform::X86Instructions::SaveFlags();
        count = Ring0PollRoutine(g_ring0.Ring0Buffer.data());
        flags_after = platform::X86Instructions::SaveFlags();
      }
      stats = emulated.Stats();
    }
    EXPECT_TRUE(installed);
    // The routine gives back the flags it found (the interrupt flag stays set in user mode
    // whatever it restores; the direction, trap and nested-task flags do not).
    constexpr uintptr_t kSystemFlags = 0x100 | 0x400 | 0x4000;
    EXPECT_EQ(flags_after & kSystemFlags, flags_before & kSystemFlags);
    EXPECT_EQ(count, g_ring0.Ring0EdgeCount);
    return {g_ring0.Ring0Buffer.begin(), g_ring0.Ring0Buffer.begin() + count};
  }

  win32::Win32Platform win32_;
};

// A waveform of `edges` changes of the line, `reads` reads apart, after `idle` reads at
// the idle level; the other bits change too. Returns the masked levels expected.
std::vector<std::pair<int64_t, uint8_t>> Burst(int edges, int64_t reads, int64_t idle,
                                               std::vector<uint32_t>& levels) {
  std::vector<std::pair<int64_t, uint8_t>> waveform{{idle, kDsr | kCts}};
  for (int i = 0; i < edges; ++i) {
    const uint8_t line = i % 2 == 0 ? 0 : kDsr;
    waveform.push_back({reads / 2, static_cast<uint8_t>(line | kDcd)});
    waveform.push_back({reads - reads / 2, static_cast<uint8_t>(line | kCts)});
    levels.push_back(line);
  }
  return waveform;
}

TEST_F(Ring0RoutineWin, RecordsFollowTheWaveformAndEachTrainEndsByItsRule) {
  struct Case {
    const char* name;
    int edges;
    int64_t reads_apart;
    int expected_records;
  };
  // Without pauses of the process every edge is recorded.
  const Case cases[] = {
      {"noise burst, ended by the window from its start", 6, 40, 6},
      {"long train, ended by the gap after its last edge", 41, 20, 41},
      {"a change at every read, cut at the 300th record", 420, 1, kMaxCapturedEdges},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::vector<uint32_t> levels;
    const int64_t idle = 25;
    const auto waveform = Burst(c.edges, c.reads_apart, idle, levels);
    const uint8_t rest = c.edges % 2 == 0 ? kDsr : 0;
    EmulatedStats stats;
    const std::vector<EdgeRecord> records = Run(waveform, rest, stats);

    // Real time runs on between emulated reads, so a pause of this process longer than a
    // train's quiet time may end a train early; but every edge that was read is recorded.
    // Edge i is read at idle + i * reads_apart.
    const int64_t edges_read =
        stats.reads <= idle
            ? 0
            : std::min<int64_t>((stats.reads - 1 - idle) / c.reads_apart + 1, c.expected_records);
    ASSERT_EQ(static_cast<int64_t>(records.size()), edges_read);
    if (records.empty()) continue;  // the process paused for the whole window
    EXPECT_EQ(stats.last_port, kPortBase + kModemStatusRegister);
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].Status, levels[i]) << i;
      if (i > 0) {
        EXPECT_GT(records[i].Timestamp, records[i - 1].Timestamp) << i;
      }
    }
    EXPECT_GT(records.front().Timestamp, g_ring0.Train.StartTicks());
    EXPECT_EQ(g_ring0.LastEdgeTime, records.back().Timestamp);
    EXPECT_EQ(g_ring0.Train.PrevStatus(), levels[records.size() - 1]);
    EXPECT_TRUE(g_ring0.TrainEnded || records.size() == kMaxCapturedEdges);
    const Ring0Thresholds& limits = g_ring0.Thresholds;
    if (records.size() < static_cast<size_t>(kLongTrainEdges)) {
      EXPECT_GT(g_ring0.SampleTime - g_ring0.Train.StartTicks(),
                limits.TrainStartWindowTicks.load());
    } else if (records.size() < kMaxCapturedEdges) {
      EXPECT_GT(g_ring0.SampleTime - records.back().Timestamp, limits.EdgeGapTicks.load());
    } else {
      // The read that gave the 300th edge was the last one.
      EXPECT_EQ(stats.reads, idle + (kMaxCapturedEdges - 1) * c.reads_apart + 1);
    }
  }
}

TEST_F(Ring0RoutineWin, LevelEightKeepsInterruptsOffForTheTrainLowerLevelsOnlyAroundEachRead) {
  for (const bool keep_interrupts_on : {false, true}) {
    SCOPED_TRACE(keep_interrupts_on ? "levels up to 7" : "level 8");
    SetUp();
    g_ring0.KeepInterruptsOn = keep_interrupts_on;
    std::vector<uint32_t> levels;
    EmulatedStats stats;
    // How many records a train gets here depends on the process's pauses; what is
    // counted below does not.
    Run(Burst(12, 30, 10, levels), kDsr, stats);
    ASSERT_GT(stats.reads, 0);
    // One disable on entry, then one before every read; no read with interrupts on.
    EXPECT_EQ(stats.disables, stats.reads + 1);
    EXPECT_EQ(stats.reads_with_interrupts_on, 0);
    EXPECT_EQ(stats.enables, keep_interrupts_on ? stats.reads : 0);
  }
}

TEST_F(Ring0RoutineWin, MoreThanHalfASecondSinceTheLastEdgeStartsANewSequence) {
  for (const bool long_pause : {true, false}) {
    SCOPED_TRACE(long_pause ? "long pause" : "edge in the future of the counter");
    SetUp();
    g_ring0.TrainCount = 3;
    const int64_t now = platform::X86Instructions::ReadTimeStampCounter();
    const int64_t gap = g_ring0.Thresholds.SequenceGapTicks.load();
    // Times that keep their side of the threshold however long the run takes to start.
    g_ring0.LastEdgeTime = long_pause ? now - 2 * gap : now + 1000 * gap;
    std::vector<uint32_t> levels;
    EmulatedStats stats;
    Run(Burst(2, 10, 5, levels), kDsr, stats);
    EXPECT_EQ(g_ring0.TrainCount, long_pause ? 0 : 3);
  }
}

TEST_F(Ring0RoutineWin, WithoutARegisterAddressNothingIsRead) {
  g_ring0.MsrPort = 0;
  EmulatedStats stats;
  EXPECT_TRUE(Run({{5, 0}}, 0, stats).empty());
  EXPECT_EQ(stats.reads, 0);
}

// Line levels on the virtual clock: idle (the pin set) until the first edge, then
// alternating at each edge instant (microseconds from the run's start).
std::vector<std::pair<int64_t, uint8_t>> LineWithEdgesAt(const std::vector<int64_t>& edges_us,
                                                         uint8_t& rest) {
  std::vector<std::pair<int64_t, uint8_t>> waveform;
  int64_t from_us = 0;
  uint8_t level = kDsr | kCts;
  for (const int64_t at_us : edges_us) {
    waveform.push_back({(at_us - from_us) * 1000, level});
    level = (level & kDsr) != 0 ? kDcd : kDsr;
    from_us = at_us;
  }
  rest = level;
  return waveform;
}

std::vector<int64_t> EveryUs(int64_t first_us, int64_t period_us, int count) {
  std::vector<int64_t> edges;
  for (int i = 0; i < count; ++i) edges.push_back(first_us + i * period_us);
  return edges;
}

// Where this machine lets a thread's time-stamp counter fault, the routine runs on a
// virtual clock (sample k stamped k + 1 us after the run's start), and each train ends at
// exactly the sample its rule names, as on the simulated platform.
TEST_F(Ring0RoutineWin, OnAVirtualClockEachTrainEndsAtTheSampleItsRuleNames) {
  constexpr int64_t kStartNs = 1'000'000'000;
  struct Case {
    const char* name;
    std::vector<int64_t> edges_us;
    size_t records;
    int64_t reads;
  };
  const Case cases[] = {
      // Below ten edges: the first sample later than 30 ms after the start.
      {"quiet line", {}, 0, 30001},
      {"noise burst, three edges far apart", {1000, 15000, 29500}, 3, 30001},
      // From the tenth edge: the first sample later than 12.8 ms after the last edge.
      {"ten edges, the last at 10 ms", EveryUs(1000, 1000, 10), 10, 10000 + 12801},
      {"400 edges: the first 300 only", EveryUs(1000, 10, 400), 300, 1000 + 299 * 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    TimeBase(win32_.counters, win32_.scheduler).SetTimeBase(1'000'000'000);  // ns
    uint8_t rest = 0;
    EmulatedStats stats;
    EmulatedClock clock = EmulatedClock::kVirtual;
    auto line = LineWithEdgesAt(c.edges_us, rest);
    const auto records = Run(std::move(line), rest, stats, &clock, kStartNs);
    if (clock != EmulatedClock::kVirtual) GTEST_SKIP() << "no way to trap the counter here";
    ASSERT_EQ(records.size(), c.records);
    EXPECT_EQ(stats.reads, c.reads);
    EXPECT_EQ(stats.counter_reads, c.reads + 1);
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].Status, i % 2 == 0 ? 0u : kDsr) << i;
      EXPECT_EQ(records[i].Timestamp, kStartNs + c.edges_us[i] * 1000) << i;
    }
  }
  // The sequence time-out compares strictly: exactly half a second since the last edge
  // keeps the sequence, one tick more starts a new one.
  for (const int64_t since_last : {int64_t{500'000'000}, int64_t{500'000'001}}) {
    SCOPED_TRACE(since_last);
    SetUp();
    TimeBase(win32_.counters, win32_.scheduler).SetTimeBase(1'000'000'000);
    g_ring0.TrainCount = 3;
    g_ring0.LastEdgeTime = kStartNs - since_last;
    uint8_t rest = 0;
    EmulatedStats stats;
    EmulatedClock clock = EmulatedClock::kVirtual;
    auto line = LineWithEdgesAt(EveryUs(1, 1, 10), rest);  // ends 12.8 ms after 10 us
    Run(std::move(line), rest, stats, &clock, kStartNs);
    if (clock != EmulatedClock::kVirtual) GTEST_SKIP() << "no way to trap the counter here";
    EXPECT_EQ(g_ring0.TrainCount, since_last > 500'000'000 ? 0 : 3);
  }
}

// --- The guard and the Windows 9x route -----------------------------------------------------

int32_t ReturnsFortyTwo(void*) {
  return 42;
}
int32_t DisablesInterrupts(void*) {
  platform::X86Instructions::DisableInterrupts();
  return 1;
}
int32_t WritesThroughNull(void* context) {
  *static_cast<volatile int32_t*>(context) = 1;
  return 2;
}
LONG WINAPI HostFilter(EXCEPTION_POINTERS*) {
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Ring0GuardWin, AFaultInsideAGuardedCallEndsItAndTheThreadGoesOn) {
  win32::Win32Ring0 ring0;
  OnOwnThread([&] {
    const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(&HostFilter);
    struct Case {
      const char* name;
      platform::Ring0Access::GuardedCall call;
      bool returns;
    };
    const Case cases[] = {
        {"returns", &ReturnsFortyTwo, true},
        {"cli in user mode", &DisablesInterrupts, false},
        {"access violation", &WritesThroughNull, false},
        {"returns after faults", &ReturnsFortyTwo, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      int32_t result = -7;
      EXPECT_EQ(ring0.CallGuarded(c.call, nullptr, result), c.returns);
      EXPECT_EQ(result, c.returns ? 42 : -7);
      // The host's own filter is back in place after each call.
      EXPECT_EQ(SetUnhandledExceptionFilter(&HostFilter), &HostFilter);
    }
    SetUnhandledExceptionFilter(before);
  });
}

TEST(Ring0GuardWin, TheWindows9xRouteCannotReachRingZeroHereAndFailsCleanly) {
  // 64-bit: there is no such route. 32-bit: the interrupt table answered to user mode
  // is a dummy, so the gate cannot be read or written, or the interrupt faults.
  win32::Win32Ring0 ring0;
  OnOwnThread([&] {
    const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(&HostFilter);
    for (int attempt = 0; attempt < 2; ++attempt) {
      int32_t result = -7;
      EXPECT_FALSE(ring0.RunAsInterruptHandler(&Ring0InterruptPollRoutine,
                                               g_ring0.Ring0Buffer.data(), result));
      EXPECT_EQ(result, -7);
      EXPECT_EQ(SetUnhandledExceptionFilter(&HostFilter), &HostFilter);
    }
    int32_t result = 0;
    EXPECT_TRUE(ring0.CallGuarded(&ReturnsFortyTwo, nullptr, result));
    EXPECT_EQ(result, 42);
    SetUnhandledExceptionFilter(before);
  });
}

}  // namespace
}  // namespace sfh56
