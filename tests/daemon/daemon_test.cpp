// The daemon's portable logic: code maps, line formats, source names, and the pipeline
// input driven by the run loop's clock; the run loop with a device that goes away.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/code_map.h"
#include "daemon/code_output.h"
#include "daemon/linux/run_loop.h"
#include "daemon/linux/stop_event.h"
#include "daemon/options.h"
#include "daemon/pipeline_input.h"
#include "tools/ir_input.h"

namespace sfh56::daemon {
namespace {

TEST(CodeMap, ReadsNamesAndRejectsBadLinesWithTheirNumber) {
  struct Case {
    const char* text;
    const char* error;  // empty: valid
  } cases[] = {
      {"# remote\n48B7 KEY_UP tv\n\n0000abcd KEY_OK   # comment\n", ""},
      {"48B7 KEY_UP\nxyz KEY_DOWN\n", "line 2: \"xyz\" is not a hexadecimal code"},
      {"48B7\n", "line 1: code 48B7 has no button name"},
      {"48B7 A B C\n", "line 1: more than CODE NAME REMOTE"},
      {"48B7 UP\n# x\n048b7 DOWN\n", "line 3: code 048b7 is already named on line 1"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto map = CodeMap::Parse(c.text, error);
    EXPECT_EQ(map.has_value(), *c.error == '\0') << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  std::string error;
  const auto map = CodeMap::Parse(cases[0].text, error);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->Lookup("48b7").name, "KEY_UP");
  EXPECT_EQ(map->Lookup("48B7").remote, "tv");
  EXPECT_EQ(map->Lookup("ABCD").name, "KEY_OK");  // leading zeros and case do not matter
  EXPECT_EQ(map->Lookup("ABCD").remote, "sfh56");
  EXPECT_EQ(map->Lookup("00FF").name, "CODE_00FF");
}

TEST(CodeOutput, LinesOfBothOutputs) {
  struct Case {
    const char* code;
    int repeat;
    const char* out;
    const char* lircd;
  } cases[] = {
      {"48B7", 0, "48B7 00 UP tv\n", "00000000000048b7 00 UP tv\n"},
      {"00FF48B7", 26, "00FF48B7 1A UP tv\n", "0000000000ff48b7 1a UP tv\n"},
      // BitMask 99 pads to 25 digits; the value never exceeds 64 bits.
      {"00000000012345678ABCDEF01", 255, "00000000012345678ABCDEF01 FF UP tv\n",
       "12345678abcdef01 ff UP tv\n"},
  };
  for (const Case& c : cases) {
    const CodeEvent event{c.code, c.repeat, "UP", "tv", 0};
    EXPECT_EQ(StdoutLine(event), c.out);
    EXPECT_EQ(LircdLine(event), c.lircd);
  }
}

TEST(Options, SourceNames) {
  struct Case {
    const char* text;
    bool ok;
    SourceKind kind;
    const char* path;
    SerialPin pin;
  } cases[] = {
      {"lirc:/dev/lirc0", true, SourceKind::kLirc, "/dev/lirc0", SerialPin::kDsr},
      {"serial:/dev/ttyS0", true, SourceKind::kSerial, "/dev/ttyS0", SerialPin::kDsr},
      {"serial:/dev/ttyS1?pin=dcd", true, SourceKind::kSerial, "/dev/ttyS1", SerialPin::kDcd},
      {"serial:/dev/ttyS1?pin=cts", true, SourceKind::kSerial, "/dev/ttyS1", SerialPin::kCts},
      {"replay:-", true, SourceKind::kReplay, "-", SerialPin::kDsr},
      {"serial:/dev/ttyS1?pin=ri", false, {}, "", {}},
      {"lirc:", false, {}, "", {}},
      {"/dev/lirc0", false, {}, "", {}},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto spec = ParseSource(c.text, error);
    ASSERT_EQ(spec.has_value(), c.ok) << c.text;
    EXPECT_EQ(error.empty(), c.ok) << c.text;
    if (!spec) continue;
    EXPECT_EQ(spec->kind, c.kind);
    EXPECT_EQ(spec->path, c.path);
    EXPECT_EQ(spec->pin, c.pin);
  }
}

struct Collected : TrainOutlet {
  void OnTrainCode(std::string_view code, int64_t, int64_t, bool) override {
    codes.emplace_back(code);
  }
  std::vector<std::string> codes;
};

// The edges of every recording of a file, 600 ms apart, in nanoseconds from 1 s.
std::vector<std::pair<bool, int64_t>> RecordedEdges(const char* file) {
  std::ifstream in(std::string(SFH_TEST_DATA_DIR) + "/" + file);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<std::pair<bool, int64_t>> edges;
  int64_t start_us = 1000000;
  for (const auto& recording : tools::ReadInput(text.str()).recordings) {
    double at_us = 0;
    for (size_t i = 0; i <= recording.durations_us.size(); ++i) {
      edges.emplace_back(i % 2 == 0, (start_us + std::llround(at_us)) * kNsPerUs);
      if (i < recording.durations_us.size()) at_us += recording.durations_us[i];
    }
    start_us += std::llround(at_us) + 600000;
  }
  return edges;
}

// The run loop's clock ends every train on time, and only then: the codes equal those
// of the source's own clock, and between presses no deadline remains (no wake-up).
TEST(PipelineInput, TheDaemonsClockEndsTrainsAsTheSourcesOwnClockDoes) {
  const auto edges = RecordedEdges("serial_remotes.tsv");
  Collected own_clock;
  Collected daemon_clock;
  PipelineInput by_source({0, 16}, own_clock);
  PipelineInput by_daemon({0, 16}, daemon_clock);
  int wake_ups = 0;
  int64_t previous_ns = 0;
  for (const auto& [mark, at_ns] : edges) {
    by_source.Edge(mark, at_ns);
    // The run loop sleeps until the deadline, unless the edge comes first.
    while (by_daemon.Deadline() && *by_daemon.Deadline() <= at_ns) {
      ASSERT_GT(*by_daemon.Deadline(), previous_ns);
      by_daemon.Quiet(*by_daemon.Deadline());
      ++wake_ups;
    }
    if (at_ns - previous_ns > 300 * kNsPerMs) {
      EXPECT_FALSE(by_daemon.Deadline()) << at_ns;
    }
    by_daemon.Edge(mark, at_ns);
    previous_ns = at_ns;
  }
  by_source.Quiet(previous_ns + 600 * kNsPerMs);
  by_daemon.Flush();
  EXPECT_FALSE(by_daemon.Deadline());
  EXPECT_EQ(daemon_clock.codes, own_clock.codes);
  EXPECT_EQ(own_clock.codes.size(), 50u);
  EXPECT_LE(wake_ups, static_cast<int>(by_daemon.Counts().trains) + 1);
}

TEST(PipelineInput, LostChangesDropTheTrainTheyBelongTo) {
  const auto edges = RecordedEdges("serial_remotes.tsv");
  Collected all;
  Collected some;
  PipelineInput whole({0, 16}, all);
  PipelineInput damaged({0, 16}, some);
  for (size_t i = 0; i < edges.size(); ++i) {
    whole.Edge(edges[i].first, edges[i].second);
    if (i == 20) damaged.Lost(edges[i].second);  // inside the first frame of the first press
    damaged.Edge(edges[i].first, edges[i].second);
  }
  // After the last train ended: that train stays whole, and none follows to be dropped.
  damaged.Lost(edges.back().second + 1000 * kNsPerMs);
  whole.Flush();
  damaged.Flush();
  ASSERT_FALSE(all.codes.empty());
  EXPECT_EQ(damaged.Counts().lost, 1);
  EXPECT_EQ(some.codes, std::vector<std::string>(all.codes.begin() + 1, all.codes.end()));
}

// Pushes part of a frame whose last edge is now, then goes away for good while it holds
// a stamped change. A descriptor limit of 1 makes the run loop's poll fail.
struct VanishingSource : Source {
  bool Open(std::string&) override { return false; }
  End Run(PulseSink& sink, std::string&) override {
    const auto edges = RecordedEdges("serial_remotes.tsv");
    setrlimit(RLIMIT_NOFILE, &fd_limit);
    const int64_t shift_ns = MonotonicNs() - edges[19].second;
    for (size_t i = 0; i < 20; ++i) sink.Edge(edges[i].first, edges[i].second + shift_ns);
    sink.NoChangeBefore(kChangeInHand);
    return End::kLost;
  }
  void Stop() override {}
  bool OwnClock() const override { return false; }
  std::string Name() const override { return "vanishing"; }
  rlimit fd_limit{};
};

TEST(RunDaemon, EndsATrainWhileTheDeviceIsAwayAndFailsWhenPollFails) {
  rlimit fds{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &fds), 0);
  for (const rlim_t fd_limit : {fds.rlim_cur, rlim_t{1}}) {
    VanishingSource source;
    source.fd_limit = {fd_limit, fds.rlim_max};
    Collected got;
    PipelineInput input({0, 16}, got);
    int64_t trains = 0;
    int rounds = 0;  // not time: a loop that never takes the silence spins through them at once
    RunHooks hooks;
    hooks.done = [&] { return (trains = input.Counts().trains) > 0 || ++rounds > 10000; };
    const int status = RunDaemon(source, input, hooks);
    setrlimit(RLIMIT_NOFILE, &fds);
    EXPECT_EQ(status, fd_limit == 1 ? 1 : 0);
    EXPECT_EQ(trains, fd_limit == 1 ? 0 : 1);
  }
}

}  // namespace
}  // namespace sfh56::daemon
