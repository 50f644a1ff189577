// The decoder's account of its decisions against the decode itself, on every recorded
// train of the corpus sample.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "tools/irdecode_input.h"
#include "tools/replay/durations.h"

namespace sfh56 {
namespace {

TEST(DecodeTrace, TellsHowEveryCodeOfTheCorpusSampleCameAbout) {
  std::ifstream in(std::string(SFH_TEST_DATA_DIR) + "/corpus_sample.tsv", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<tools::InputError> errors;
  const auto recordings = tools::ParseCorpusTsv(text.str(), errors);
  ASSERT_FALSE(recordings.empty());

  int full = 0;
  int dropped = 0;
  int cleared = 0;
  for (const tools::Recording& recording : recordings) {
    DecoderState plain_state;
    DecoderState traced_state;
    for (const PulseTrain& train : ReplayedTrains(recording.durations_us, kReplayTicksPerSecond)) {
      SCOPED_TRACE(recording.name);
      const DecodeResult plain = Decoder::Decode(train, 16, plain_state);
      DecodeTrace t;
      const DecodeResult traced = Decoder::Decode(train, 16, traced_state, t);
      // Tracing changes nothing.
      ASSERT_EQ(traced.deliver, plain.deliver);
      ASSERT_EQ(traced.code, plain.code);
      ASSERT_EQ(traced.shift_coded, plain.shift_coded);
      if (t.outcome != DecodeTrace::Outcome::kFull) {
        EXPECT_EQ(plain.full_decode, false);
        continue;
      }
      ++full;
      EXPECT_EQ(t.interval_count, train.LastEdgeIndex);
      EXPECT_EQ(t.thresholds.DecisionSeconds == 0.0, plain.shift_coded);
      // The bits recorded are the accumulator's, and every BitMask gives the decoder's code.
      uint64_t accumulator = 0;
      for (int b = 0; b < t.bit_count; ++b) {
        accumulator = accumulator * 2 + t.bits[static_cast<size_t>(b)];
        cleared += t.cleared[static_cast<size_t>(b)];
      }
      EXPECT_EQ(accumulator, t.accumulator);
      for (int32_t mask = 0; mask <= 99; ++mask) {
        char code[kCodeBufferBytes];
        const int length = CodeWithBitMask(t.accumulator, t.bit_count, mask, code);
        DecoderState state;
        ASSERT_EQ(std::string_view(code, static_cast<size_t>(length)),
                  Decoder::Decode(train, mask, state).code)
            << "BitMask " << mask;
      }
      // Each bit but bi-phase's leading 1 comes from kept intervals (one, or two half-bits);
      // dropped intervals give none.
      std::vector<int> intervals_of_bit(static_cast<size_t>(t.bit_count), 0);
      for (int c = 0; c < t.interval_count; ++c) {
        const int bit = t.bit_of[static_cast<size_t>(c)];
        if (t.drop[static_cast<size_t>(c)] != DecodeTrace::Drop::kKept) {
          ++dropped;
          EXPECT_EQ(bit, -1);
        } else if (bit >= 0) {
          ASSERT_LT(bit, t.bit_count);
          ++intervals_of_bit[static_cast<size_t>(bit)];
        }
      }
      for (int b = 0; b < t.bit_count; ++b) {
        const int n = intervals_of_bit[static_cast<size_t>(b)];
        if (plain.shift_coded) {
          EXPECT_TRUE(b == 0 ? n == 0 : n == 1 || n == 2) << "bit " << b;
        } else {
          EXPECT_EQ(n, 1) << "bit " << b;
        }
      }
    }
  }
  // The sample holds every kind of decision.
  EXPECT_GT(full, 500);
  EXPECT_GT(dropped, 100);
  EXPECT_GT(cleared, 10);
}

}  // namespace
}  // namespace sfh56
