// The stable decoding on signals written as text (+mark -space, µs): each must keep its
// code when every edge moves by a few microseconds, and give the classic decoder's code
// where the classic decoder's decisions are far from every duration.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "decode/stable_decoder.h"

namespace sfh56 {
namespace {

constexpr double kTicksPerSecond = 64e6;  // 64 ticks per µs
constexpr uint64_t kSeed = 20261209;

// "+9000 -4500 +560 ..."; "x8 +500 -270 | +500": the words before "|" eight times, then
// the rest once. With jitter,
// every duration is off by up to 3 %, as in a recording; without, repeats are exact.
PulseTrain Train(const std::string& text, bool jitter = false) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::vector<std::string> once;
  int repeat = 1;
  for (std::string w; in >> w;) {
    if (w[0] == 'x') {
      repeat = std::stoi(w.substr(1));
    } else if (w == "|" || !once.empty()) {
      once.push_back(w);
    } else {
      words.push_back(w);
    }
  }
  if (!once.empty()) once.erase(once.begin());
  std::vector<std::string> all;
  for (int r = 0; r < repeat; ++r) all.insert(all.end(), words.begin(), words.end());
  all.insert(all.end(), once.begin(), once.end());
  PulseTrain train;
  train.TicksPerSecond = kTicksPerSecond;
  int64_t t = 1'000'000;
  int c = 0;
  for (const std::string& w : all) {
    const double scale = jitter ? 1.0 + 0.005 * ((c * 7919) % 13 - 6) : 1.0;
    train.Edges[c++] = {w[0] == '+' ? 0u : 0x20u, t};
    t += std::llround(std::stod(w.substr(1)) * 64 * scale);
  }
  train.Edges[c] = {0x20u, t};
  train.LastEdgeIndex = c;
  return train;
}

PulseTrain WithNoise(PulseTrain train, double sigma_us, std::mt19937_64& rng) {
  std::normal_distribution<double> noise(0.0, sigma_us * 64);
  for (int c = 0; c <= train.LastEdgeIndex; ++c) {
    train.Edges[c].Timestamp += std::llround(noise(rng));
  }
  return train;
}

std::string Classic(const PulseTrain& train) {
  DecoderState state;
  return std::string(Decoder::Decode(train, 0, state).code);
}

// The code, with the decode's account of its filter checked: the intervals it marks kept
// are the ones it counts, and the first mark is marked a dropped leader exactly when it
// says so.
std::string Stable(const PulseTrain& train) {
  StableDecisions d;
  const DecodedTrain r = DecodeStable(train, 0, &d);
  if (r.outcome == DecodedTrain::Outcome::kFull) {
    EXPECT_EQ(
        std::count(r.drop.begin(), r.drop.begin() + r.interval_count, DecodedTrain::Drop::kKept),
        d.kept);
    EXPECT_EQ(r.drop[0] == DecodedTrain::Drop::kLeaderMark, d.leader_dropped);
  }
  return std::string(r.Code());
}

struct Case {
  const char* name;
  const char* signal;
  bool jitter;
  bool same_as_classic;  // the classic decoder's decisions are clear of every duration
};

const Case kCases[] = {
    {"space-coded, long leader",
     "+9000 -4500 x4 +560 -560 +560 -1690 +560 -560 +560 -560 +560 -1690 +560 -1690 +560 -560 "
     "+560 -1690 +560",
     true, true},
    {"bi-phase, 889 µs half-bits",
     "+889 -889 +889 -1778 +1778 -889 +889 -889 +889 -1778 +889 -889 +1778 -889 +889", true, true},
    {"mark-coded, short leader",
     "+2400 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 +600 -600 "
     "+1200 -600 +600 -600 +600 -600 +600 -600 +600",
     true, true},
    // Three space lengths with exact repeats: the classic walks count the repeats and
    // end on the middle length, where any noise moves the threshold across it.
    {"three space lengths", "x9 +500 -270 +500 -435 +500 -600 | +500", false, false},
    // Every mark one length, every space another: no level carries data.
    {"one length per level", "+604 -2557 x10 +605 -452 | +604", false, false},
    // A first mark over the leader limit, longer than any other: a leader, dropped.
    {"space-coded, leader mark",
     "+4200 -1100 x4 +560 -560 +560 -1690 +560 -560 +560 -560 +560 -1690 +560 -1690 +560 -560 "
     "+560 -1690 +560",
     true, true},
    // A bi-phase-looking train whose first mark lies at the leader limit.
    {"first mark at the leader limit",
     "+3004 -998 +978 -2967 +950 -2968 +950 -2968 +950 -2968 +951 -2968 +2897 -1001 +977", false,
     false},
};

TEST(StableDecoding, KeepsItsCodeUnderEdgeNoise) {
  std::mt19937_64 rng(kSeed);
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const PulseTrain clean = Train(c.signal, c.jitter);
    const std::string code = Stable(clean);
    if (c.same_as_classic) {
      EXPECT_EQ(code, Classic(clean));
    }
    for (int trial = 0; trial < 20; ++trial) {
      EXPECT_EQ(Stable(WithNoise(clean, 5.0, rng)), code) << "trial " << trial;
    }
  }
}

TEST(StableDecoding, ThreeSpaceLengthsMoveTheClassicThresholdButNotTheStableOne) {
  std::mt19937_64 rng(kSeed);
  const PulseTrain clean = Train(kCases[3].signal);
  int classic_changed = 0;
  for (int trial = 0; trial < 20; ++trial) {
    if (Classic(WithNoise(clean, 5.0, rng)) != Classic(clean)) ++classic_changed;
  }
  EXPECT_GE(classic_changed, 15) << "seed " << kSeed;
  // The stable decoding cuts in the widest gap, between 270 and 435 µs: the code of the
  // same signal with the 435 µs spaces made 600 µs long, where no cut is in doubt.
  EXPECT_EQ(Stable(clean), Classic(Train("x9 +500 -270 +500 -600 +500 -600 | +500")));
}

TEST(StableDecoding, BiPhaseMarksLengthenedByTheReceiverGiveTheSignalsOwnCode) {
  // Half-bits of 889 µs; a slow receiver adds 300 µs to every mark and takes them from
  // every space, so a short mark is nearly as long as a long space.
  const std::string halves =
      "+889 -889 +889 -1778 +1778 -889 +889 -889 +889 -1778 +889 -889 "
      "+1778 -889 +889 -1778 +889 -889 +889";
  std::string distorted;
  std::istringstream in(halves);
  for (std::string w; in >> w;) {
    const double us = std::stod(w.substr(1)) + (w[0] == '+' ? 300 : -300);
    distorted += w.substr(0, 1) + std::to_string(static_cast<int>(us)) + " ";
  }
  const std::string code = Classic(Train(halves, true));
  EXPECT_EQ(Stable(Train(halves, true)), code);
  EXPECT_EQ(Stable(Train(distorted, true)), code);
  EXPECT_NE(Classic(Train(distorted, true)), code) << "one threshold for both levels";
}

TEST(StableDecoding, FirstMarkEitherSideOfTheLeaderLimitGivesOneCode) {
  const std::string rest =
      " -998 +978 -2967 +950 -2968 +950 -2968 +950 -2968 +951 -2968 +2897 -1001 +977";
  EXPECT_EQ(Stable(Train("+2990" + rest)), Stable(Train("+3010" + rest)));
}

TEST(StableDecoding, ReceiverEntryFollowsTheClassicContract) {
  DecoderState state;
  const auto decode = [&state](const PulseTrain& train) {
    return HandOnDecode(DecodeStable(train, 16), train, state);
  };
  const PulseTrain frame = Train(kCases[0].signal);
  const DecodeResult full = decode(frame);
  EXPECT_TRUE(full.deliver && full.full_decode);
  EXPECT_EQ(full.code, std::string(DecodeStable(frame, 16).Code()));
  const std::string code(full.code);
  // A repeat frame re-sends the last code; a short train delivers nothing.
  const DecodeResult repeat = decode(Train("+9000 -2250 +560"));
  EXPECT_TRUE(repeat.deliver && !repeat.full_decode);
  EXPECT_EQ(repeat.code, code);
  EXPECT_FALSE(decode(Train("x5 +560 -560")).deliver);
  EXPECT_EQ(state.Code(), code);
}

}  // namespace
}  // namespace sfh56
