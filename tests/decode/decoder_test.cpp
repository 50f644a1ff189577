#include "decode/decoder.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "decode/service_log.h"
#include "tests/decode/train_builder.h"

namespace sfh56 {
namespace {

using test::BitsOf;
using test::SpaceCodedFrame;
using test::TrainFromSeconds;

// Bits of the remote's frame in time order: 00000000 11111111 01001000 10110111.
const std::vector<int> kNecBits = BitsOf(0x00FF48B7, 32);

std::string Decoded(const PulseTrain& train, int bit_mask, DecoderState& state) {
  const DecodeResult result = Decoder::Decode(train, bit_mask, state);
  EXPECT_TRUE(result.deliver);
  return std::string(result.code);
}

std::string Decoded(const PulseTrain& train, int bit_mask) {
  DecoderState state;
  return Decoded(train, bit_mask, state);
}

TEST(DecoderSpaceCoded, BadBitMaskValuesStayInsideTheCodeBuffer) {
  const PulseTrain train = TrainFromSeconds(SpaceCodedFrame(kNecBits));
  EXPECT_EQ(Decoded(train, -1), "00FF48B7") << "negative: as 0, every bit";
  EXPECT_EQ(Decoded(train, INT32_MIN), "00FF48B7");
  const std::string huge = Decoded(train, INT32_MAX);
  EXPECT_EQ(huge.size(), static_cast<size_t>(kMaxCodeChars));
  EXPECT_EQ(huge.substr(huge.size() - 8), "00FF48B7");
  EXPECT_EQ(Decoded(train, 1004).size(), 251u);
  EXPECT_EQ(Decoded(train, 1000).size(), 250u);
}

TEST(DecoderRepeatFrame, ResendsThePreviousCodeOrTheEmptyText) {
  const PulseTrain repeat = TrainFromSeconds({0.009, 0.00225, 0.0005625});
  ASSERT_EQ(repeat.LastEdgeIndex, 3);
  DecoderState state;
  DecodeResult result = Decoder::Decode(repeat, 16, state);
  EXPECT_TRUE(result.deliver);
  EXPECT_FALSE(result.full_decode);
  EXPECT_EQ(result.code, "") << "nothing decoded yet";

  EXPECT_EQ(Decoded(TrainFromSeconds(SpaceCodedFrame(kNecBits)), 16, state), "48B7");
  result = Decoder::Decode(repeat, 0, state);
  EXPECT_TRUE(result.deliver);
  EXPECT_EQ(result.code, "48B7") << "unchanged, BitMask not applied again";
}

TEST(DecoderRepeatFrame, ExactlyFiveMillisecondsOrFiveEdgesDeliverNothing) {
  DecoderState state;
  PulseTrain exact;
  exact.TicksPerSecond = 1000000.0;
  exact.LastEdgeIndex = 3;
  exact.Edges[0] = {0, 0};
  exact.Edges[1] = {kIdleStatus, 5000};  // 5000 / 10^6 s is the double nearest 0.005
  exact.Edges[2] = {0, 7000};
  exact.Edges[3] = {kIdleStatus, 7500};
  EXPECT_FALSE(Decoder::Decode(exact, 16, state).deliver);

  EXPECT_FALSE(
      Decoder::Decode(TrainFromSeconds({0.009, 0.00225, 0.0005625, 0.001}), 16, state).deliver);
}

// Ten and eleven intervals: tests/data/decoder_vectors.txt.
TEST(DecoderShortTrains, EmptyAndDamagedTrainsAreIgnored) {
  DecoderState state;
  PulseTrain empty;
  EXPECT_FALSE(Decoder::Decode(empty, 0, state).deliver) << "empty train";
  empty.LastEdgeIndex = -5;
  EXPECT_FALSE(Decoder::Decode(empty, 0, state).deliver) << "damaged index";
}

TEST(DecoderLimits, LongestTrainsStayWithinTheBuffers) {
  // 300 alternating half-bits of equal length: bi-phase with a bit per interval.
  std::vector<double> d(300, 0.0005);
  for (size_t i = 0; i < d.size(); i += 7) d[i] = 0.001;
  PulseTrain train = TrainFromSeconds(d);
  ASSERT_EQ(train.LastEdgeIndex, 300);
  const std::string code = Decoded(train, 0);
  EXPECT_LE(code.size(), 76u);
  EXPECT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos);

  train.LastEdgeIndex = 100000;  // never written by capture: read as a full train
  EXPECT_EQ(Decoded(train, 0), code);
}

TEST(DecoderSpaceCoded, LastIntervalOfATwentyFiveIntervalFramePairsWithNothing) {
  // 24 equal marks, the first 23 followed by 10 ms gaps (dropped), then one lone space:
  // 25 intervals, space-coded, whose only data interval is the very last. A tick rate of
  // 2^20 keeps the marks exactly equal, so their spread is 0.
  auto train_with_last_space = [](int64_t last_space_ticks) {
    PulseTrain train;
    train.TicksPerSecond = 1048576.0;
    int64_t t = 1 << 24;
    int c = 0;
    for (int mark = 0; mark < 24; ++mark) {
      train.Edges[c++] = {0, t};
      t += 629;  // 0.6 ms
      train.Edges[c++] = {kIdleStatus, t};
      t += mark < 23 ? 10486 : last_space_ticks;
    }
    train.Edges[c] = {0, t};
    train.LastEdgeIndex = c;
    return train;
  };
  // The lone space sets its bit (threshold at 80 % of it); the bit is cleared when the
  // space alone exceeds 4 ms, since no interval follows it.
  EXPECT_EQ(Decoded(train_with_last_space(3146), 0), "1");  // 3 ms
  EXPECT_EQ(Decoded(train_with_last_space(5243), 0), "0");  // 5 ms
}

// Keeps the text the service log would write as the head of the record.
class LogHead : public ServiceLogSink {
 public:
  bool OpenAndWriteHead(const PulseTrain& train, int edge_count) override {
    head = FormatLogHead(train, edge_count);
    return true;
  }
  void WriteCodeLineAndClose(std::string_view, bool) override {}
  std::string head;
};

TEST(DecoderStartTime, ElevenEqualIntervalsGiveOneCodeAndOneLogWhereverTheTrainStarts) {
  // The rates of an old and a modern performance counter and of a time-stamp counter;
  // trains starting at once, after an hour and after 30 days of uptime, give or take a few
  // ticks.
  // 0.5625 ms intervals put the log's times on its rounding edge at 10 MHz (x.xxx5 ms).
  std::set<std::string> codes;
  for (const double rate : {1e6, 3579545.0, 1e7, 2.4e9}) {
    const int64_t interval = std::llround(0.0005625 * rate);
    std::string first_head;
    for (const int64_t uptime_s : {0, 3600, 30 * 86400}) {
      for (const int64_t nudge : {0, 1, 977}) {
        PulseTrain train;
        train.TicksPerSecond = rate;
        const int64_t start = uptime_s * static_cast<int64_t>(rate) + nudge;
        for (int c = 0; c <= 11; ++c)
          train.Edges[c] = {c % 2 == 0 ? 0u : kIdleStatus, start + c * interval};
        train.LastEdgeIndex = 11;
        DecoderState state;
        LogHead log;
        const std::string code(Decoder::Decode(train, 0, state, &log).code);
        codes.insert(code);
        if (first_head.empty()) first_head = log.head;
        EXPECT_EQ(log.head, first_head) << rate << " ticks/s, first edge at " << start;
        // Every interval's length is the third field of its line B; equal ones read alike.
        std::set<std::string> logged_lengths;
        std::istringstream lines(log.head);
        for (std::string line; std::getline(lines, line);) {
          const size_t first_tab = line.find('\t');
          if (first_tab == std::string::npos) continue;
          const size_t second_tab = line.find('\t', first_tab + 1);
          if (second_tab != std::string::npos) logged_lengths.insert(line.substr(second_tab + 1));
        }
        EXPECT_EQ(logged_lengths.size(), 1u) << rate << " ticks/s, first edge at " << start;
      }
    }
  }
  EXPECT_EQ(codes.size(), 1u) << "equal intervals have no spread, at any rate or start";
}

TEST(DecoderHexText, UppercaseAndZeroPadded) {
  char text[kCodeBufferBytes];
  EXPECT_EQ(FormatHexCode(255, 2, text, kMaxCodeChars), 2);
  EXPECT_STREQ(text, "FF");
  FormatHexCode(0xABCDEF, 8, text, kMaxCodeChars);
  EXPECT_STREQ(text, "00ABCDEF");
  FormatHexCode(0, 0, text, kMaxCodeChars);
  EXPECT_STREQ(text, "0") << "zero has one digit";
  FormatHexCode(~uint64_t{0}, 0, text, kMaxCodeChars);
  EXPECT_STREQ(text, "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(FormatHexCode(1, 1000, text, kMaxCodeChars), kMaxCodeChars);
}

TEST(EstimateThreshold, WalksThatCannotReachTheirLimitEndOnTheLastDurationVisited) {
  // Bi-phase statistics need matching spreads; here the data level has far fewer
  // intervals than the limit asks: the walks end on the durations they reached.
  std::vector<IntervalRecord> in(40, IntervalRecord{1, 0.0006});
  for (int i = 0; i < 40; i += 2) in[i].Value = 0.0007;
  in[21] = {0, 0.001};
  in[31] = {0, 0.002};
  const Thresholds th = EstimateThreshold(in.data(), 0, 39);
  EXPECT_EQ(th.Mode, CodingMode::kSpace);
  // Upward walk visits 1 ms and 2 ms and stops on 2 ms; the downward walk meets 2 ms,
  // which lies in that cluster at once: single cluster, 80 % of 2 ms.
  EXPECT_DOUBLE_EQ(th.DecisionSeconds, 0.0016);
  EXPECT_EQ(th.MarkSeconds, 0.0);
}

TEST(EstimateThreshold, RepeatsCountedInTheStepAfterEndOnThePlaceholder) {
  // One level, one duration repeated: the upward walk moves onto it, counts its repeats
  // in the step that finds nothing further, and ends on the placeholder.
  std::vector<IntervalRecord> in(22, IntervalRecord{0, 0.001});
  for (int i = 1; i < 22; i += 2) in[i] = {1, 0.0};
  const Thresholds th = EstimateThreshold(in.data(), 0, 21);
  EXPECT_EQ(th.Mode, CodingMode::kSpace);
  // limit = 19 x 0.25 / 2 = 2.375: step 1 reaches 1 ms, step 2 counts its 10 copies and
  // lands on 100 s. Downward the same: 1 ms, then its copies while landing on 0 s.
  EXPECT_DOUBLE_EQ(th.DecisionSeconds, 50.0);
}

TEST(EstimateThreshold, NoIntervalsGiveFiftySeconds) {
  IntervalRecord none[1]{};
  const Thresholds th = EstimateThreshold(none, 0, -1);
  EXPECT_EQ(th.Mode, CodingMode::kBiPhase);
  EXPECT_DOUBLE_EQ(th.SpaceSeconds, 50.0);
  EXPECT_EQ(th.DecisionSeconds, 0.0);
}

class RecordingSinks : public ServiceLogSink, public CodeSink {
 public:
  bool OpenAndWriteHead(const PulseTrain&, int edge_count) override {
    events += "head(" + std::to_string(edge_count) + ")";
    return open_ok;
  }
  void WriteCodeLineAndClose(std::string_view code, bool shift) override {
    events += "line(" + std::string(code) + (shift ? ",T)" : ",F)");
  }
  void Deliver(std::string_view code) override { events += "deliver(" + std::string(code) + ")"; }
  bool open_ok = true;
  std::string events;
};

TEST(DecoderSinks, DeliveryComesBetweenLogHeadAndCodeLine) {
  RecordingSinks sinks;
  DecoderState state;
  Decoder::Decode(TrainFromSeconds(SpaceCodedFrame(kNecBits)), 16, state, &sinks, &sinks);
  EXPECT_EQ(sinks.events, "head(68)deliver(48B7)line(48B7,F)");

  sinks.events.clear();
  Decoder::Decode(TrainFromSeconds({0.009, 0.00225, 0.0005625}), 16, state, &sinks, &sinks);
  EXPECT_EQ(sinks.events, "deliver(48B7)") << "repeat frames are not logged";

  sinks.events.clear();
  sinks.open_ok = false;
  Decoder::Decode(TrainFromSeconds(std::vector<double>(11, 0.008)), 0, state, &sinks, &sinks);
  EXPECT_EQ(sinks.events, "head(12)deliver(1)") << "log not open: no code line";

  sinks.events.clear();
  Decoder::Decode(TrainFromSeconds(std::vector<double>(10, 0.001)), 0, state, &sinks, &sinks);
  EXPECT_EQ(sinks.events, "") << "ignored trains leave no trace";
}

}  // namespace
}  // namespace sfh56
