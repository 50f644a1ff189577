#include "decode/stable_decoder.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace sfh56 {
namespace {

// The classic decoder's limits for repeat frames, short trains, gaps and leaders, its
// skipped intervals and its bi-phase spread ratios (decode/decoder.h) hold here too: the
// stable decoding ignores and filters the same intervals.

// A level whose durations have no gap wider than this ratio carries no data: its spread
// is the timing jitter within one length.
constexpr double kLeastClusterRatio = 1.25;
// A bi-phase level is cut on its own only between clusters at least this far apart.
constexpr double kOwnCutRatio = 1.25;
// The best gap must be at least this wide to be a cut; else the values are one cluster.
constexpr double kLeastCutRatio = 1.1;
// How fast a gap's score falls with its distance (log ratio) from the quantile cut.
constexpr double kDistanceWeight = 4.0;
// A gap narrower than this scores less in proportion: a cut a few noise widths from the
// durations either side of it is a cut that noise moves.
constexpr double kWideGapSeconds = 250e-6;

struct Interval {
  uint8_t level;
  double seconds;
};

// Tick counts whose offsets from the smallest span at most this many bits are sorted in
// counting passes of at most kDigitBits bits each; wider spans by comparison.
constexpr int kMaxCountingBits = 24;
constexpr int kDigitBits = 8;
// The low bits of a counting key hold the interval's index.
constexpr int kIndexBits = 16;

// Writes to order the indices 0..count-1 of intervals (each of ticks[i] ticks) by
// duration. by_ticks: every duration is its tick count's quotient by one positive rate.
// Both conversions round monotonically, so ordering the tick counts orders the durations,
// equal ones side by side; a train's tick counts span a few thousand and sort in two or
// three stable counting passes, without the mispredicted branches of a comparison sort.
// Durations that compare equal (a zero and a negative zero) are interchangeable: no
// decision tells them apart.
void SortByDuration(const Interval* intervals, const int64_t* ticks, int count, bool by_ticks,
                    uint16_t* order) {
  if (count <= 0) return;
  if (by_ticks) {
    int64_t low = ticks[0];
    int64_t high = ticks[0];
    for (int i = 1; i < count; ++i) {
      low = std::min(low, ticks[i]);
      high = std::max(high, ticks[i]);
    }
    const int bits = std::bit_width(static_cast<uint64_t>(high) - static_cast<uint64_t>(low));
    if (bits == 0) {  // all equal: in order already
      for (int i = 0; i < count; ++i) order[i] = static_cast<uint16_t>(i);
      return;
    }
    if (bits <= kMaxCountingBits) {
      std::array<uint64_t, kEdgeCapacity> keys;
      std::array<uint64_t, kEdgeCapacity> keys_tmp;
      for (int i = 0; i < count; ++i) {
        const uint64_t offset = static_cast<uint64_t>(ticks[i]) - static_cast<uint64_t>(low);
        keys[i] = offset << kIndexBits | static_cast<uint64_t>(i);
      }
      const int passes = (bits + kDigitBits - 1) / kDigitBits;
      const int digit = (bits + passes - 1) / passes;
      const uint64_t mask = (uint64_t{1} << digit) - 1;
      // Every pass's counts in one reading: a pass only reorders the keys.
      std::array<std::array<int, 1 << kDigitBits>, kMaxCountingBits / kDigitBits> start;
      for (int pass = 0; pass < passes; ++pass) std::fill_n(start[pass].data(), mask + 1, 0);
      for (int i = 0; i < count; ++i) {
        for (int pass = 0; pass < passes; ++pass) {
          ++start[pass][(keys[i] >> (kIndexBits + pass * digit)) & mask];
        }
      }
      uint64_t* from = keys.data();
      uint64_t* to = keys_tmp.data();
      for (int pass = 0; pass < passes; ++pass) {
        const int shift = kIndexBits + pass * digit;
        int* at = start[pass].data();
        int sum = 0;
        for (uint64_t b = 0; b <= mask; ++b) {
          const int c = at[b];
          at[b] = sum;
          sum += c;
        }
        if (pass + 1 == passes) {
          // The last pass places the indices alone.
          for (int i = 0; i < count; ++i) {
            order[at[(from[i] >> shift) & mask]++] = static_cast<uint16_t>(from[i]);
          }
        } else {
          for (int i = 0; i < count; ++i) to[at[(from[i] >> shift) & mask]++] = from[i];
          std::swap(from, to);
        }
      }
      return;
    }
  }
  for (int i = 0; i < count; ++i) order[i] = static_cast<uint16_t>(i);
  std::sort(order, order + count, [intervals](uint16_t a, uint16_t b) {
    return intervals[a].seconds < intervals[b].seconds;
  });
}

// The length between short and long among values (sorted): the middle of the gap
// between two neighbouring values that scores best, the score being the gap's width as
// the logarithm of its ratio, weighed down when fewer than limit values lie on one of
// its sides (a leader or a stray interval is not a cluster of its own). The weight
// changes by one value's share at a time, so no single duration moves the choice far.
// Returns 0 when no gap is wide enough to separate clusters; ratio, when given, receives
// the chosen gap's ratio (1 when there is none).
double WidestGapCut(const double* values, int count, double limit, double* ratio = nullptr) {
  if (ratio != nullptr) *ratio = 1.0;
  if (count < 2) return 0.0;
  const double q = std::max(1.0, limit);
  // About where the classic decoder would cut: halfway between the mean of the limit
  // shortest values and the mean of the limit longest. Gaps far from it score less, so
  // that where several gaps are about as wide the choice falls, as the classic
  // decoder's does, between the outer clusters. Means move with the values smoothly,
  // where a single ranked value jumps from one cluster to the next.
  const int rank = std::clamp(static_cast<int>(std::ceil(q)), 1, count);
  double low_sum = 0.0;
  double high_sum = 0.0;
  for (int i = 0; i < rank; ++i) {
    low_sum += values[i];
    high_sum += values[count - 1 - i];
  }
  const double quantile_cut = (low_sum + high_sum) / (2.0 * rank);
  int best = -1;
  double best_score = 0.0;
  for (int i = 0; i + 1 < count; ++i) {
    // Jitter within one length separates nothing (and spares the logarithms); damaged
    // timestamps give durations of no length, with no ratio to measure.
    if (!(values[i] > 0.0) || values[i + 1] < kLeastCutRatio * values[i]) continue;
    const double below = std::min(1.0, (i + 1) / q);
    const double above = std::min(1.0, (count - 1 - i) / q);
    // Distance from the quantile cut to the gap, as a log ratio; 0 inside the gap.
    double distance = 0.0;
    if (quantile_cut > 0.0 && quantile_cut < values[i]) {
      distance = std::log(values[i] / quantile_cut);
    } else if (quantile_cut > values[i + 1]) {
      distance = std::log(quantile_cut / values[i + 1]);
    }
    const double near = 1.0 / (1.0 + kDistanceWeight * distance);
    const double narrow = std::min(1.0, (values[i + 1] - values[i]) / kWideGapSeconds);
    const double score = std::log(values[i + 1] / values[i]) * below * above * near * narrow;
    if (score > best_score) {
      best_score = score;
      best = i;
    }
  }
  if (best < 0) return 0.0;
  if (ratio != nullptr) *ratio = values[best + 1] / values[best];
  return (values[best] + values[best + 1]) / 2;
}

}  // namespace

DecodedTrain DecodeStable(const PulseTrain& train, int32_t bit_mask, StableDecisions* decisions) {
  DecodedTrain result;
  const int n = std::min<int32_t>(train.LastEdgeIndex, kEdgeCapacity - 1);
  const double tps = train.TicksPerSecond;
  auto ticks_of = [&](int c) {
    return static_cast<int64_t>(static_cast<uint64_t>(train.Edges[c + 1].Timestamp) -
                                static_cast<uint64_t>(train.Edges[c].Timestamp));
  };
  auto duration = [&](int c) {
    return SecondsBetween(train.Edges[c].Timestamp, train.Edges[c + 1].Timestamp, tps);
  };
  if (n == kRepeatFrameLastEdgeIndex && duration(0) > kRepeatFirstIntervalSeconds) {
    result.outcome = DecodedTrain::Outcome::kRepeat;
    return result;
  }
  if (n <= kMaxIgnoredLastEdgeIndex) return result;

  // The kept intervals and their tick counts, read and filtered in one pass: only the
  // first two can be leaders, so the rest are kept or dropped without a branch.
  std::array<Interval, kEdgeCapacity> w;
  std::array<int64_t, kEdgeCapacity> kept_ticks;
  const double head[2] = {duration(0), duration(1)};
  const bool long_leader = head[0] > kLongLeaderMarkSeconds && head[1] > kLongLeaderSpaceSeconds &&
                           n >= kLongLeaderMinLastEdgeIndex;
  int k = 0;
  bool leader_dropped = false;
  result.interval_count = n;
  result.long_leader = long_leader;
  result.bit_of.fill(-1);
  for (int j = 0; j < 2; ++j) {
    const double d = head[j];
    const uint8_t level = IntervalLevel(train.Edges[j]);
    DecodedTrain::Drop& drop = result.drop[j];
    if (!(d < kGapSeconds)) {
      drop = DecodedTrain::Drop::kGap;
    } else if (long_leader) {
      drop = DecodedTrain::Drop::kLongLeader;
    } else if (j == 0 && level == 1 && d > kLeaderMarkSeconds) {
      drop = DecodedTrain::Drop::kLeaderMark;
      leader_dropped = true;
    } else {
      kept_ticks[k] = ticks_of(j);
      w[k++] = {level, d};
    }
  }
  for (int j = 2; j < n; ++j) {
    const int64_t ticks = ticks_of(j);
    const double d = static_cast<double>(ticks) / tps;  // duration(j)
    const bool kept = d < kGapSeconds;
    result.drop[j] = kept ? DecodedTrain::Drop::kKept : DecodedTrain::Drop::kGap;
    kept_ticks[k] = ticks;
    w[k] = {IntervalLevel(train.Edges[j]), d};
    k += kept ? 1 : 0;
  }

  // Statistics leave out the first two intervals, as the classic decoder does. The
  // intervals first..last sorted by duration once ("all", the values of a bi-phase cut),
  // then split by level in that order: each level's durations, sorted, for every
  // decision below.
  const int first = k > kSkippedIntervals ? kSkippedIntervals : 0;
  const int last = k - 1;
  std::array<double, kEdgeCapacity> all;
  std::array<std::array<double, kEdgeCapacity>, 2> sorted;
  int count_of[2] = {0, 0};
  {
    std::array<uint16_t, kEdgeCapacity> order;
    const int count = last - first + 1;
    SortByDuration(w.data() + first, kept_ticks.data() + first, count, tps > 0.0, order.data());
    int c0 = 0;
    int c1 = 0;
    for (int i = 0; i < count; ++i) {
      const Interval& interval = w[first + order[i]];
      const double v = interval.seconds;
      all[i] = v;
      sorted[0][c0] = v;
      sorted[1][c1] = v;
      const int mark = interval.level != 0 ? 1 : 0;
      c1 += mark;
      c0 += 1 - mark;
    }
    count_of[0] = c0;
    count_of[1] = c1;
  }
  // Each level's extremes (no kept duration is NaN: it would have been dropped as a gap).
  double min_of[2] = {100.0, 100.0};
  double max_of[2] = {0.0, 0.0};
  for (int level = 0; level < 2; ++level) {
    if (count_of[level] == 0) continue;
    min_of[level] = std::min(min_of[level], sorted[level][0]);
    max_of[level] = std::max(max_of[level], sorted[level][count_of[level] - 1]);
  }
  const double spread0 = max_of[0] - min_of[0];
  const double spread1 = max_of[1] - min_of[1];
  // A level carries data when its durations form more than one cluster; jitter alone
  // must not choose the mode.
  bool clustered[2] = {false, false};
  for (int level = 0; level < 2; ++level) {
    const double* v = sorted[level].data();
    for (int i = 0; i + 1 < count_of[level]; ++i) {
      if (v[i + 1] > kLeastClusterRatio * v[i]) {
        clustered[level] = true;
        break;
      }
    }
  }
  double limit = (last - first) * kWalkShare;
  CodingMode mode;
  if (clustered[0] != clustered[1]) {
    mode = clustered[1] ? CodingMode::kMark : CodingMode::kSpace;
  } else if (!clustered[0] || (spread1 != 0.0 && kBiPhaseSpreadRatioLow < spread0 / spread1 &&
                               spread0 / spread1 < kBiPhaseSpreadRatioHigh)) {
    mode = CodingMode::kBiPhase;
  } else {
    mode = spread0 < spread1 ? CodingMode::kMark : CodingMode::kSpace;
  }
  if (mode != CodingMode::kBiPhase) limit /= 2;
  const uint8_t data_level = mode == CodingMode::kMark ? 1 : 0;

  const double* values = sorted[data_level].data();
  int m = count_of[data_level];
  if (mode == CodingMode::kBiPhase) {
    values = all.data();
    m = count_of[0] + count_of[1];
  }
  const double threshold = WidestGapCut(values, m, limit);
  // Bi-phase: a receiver that lengthens its marks and shortens its spaces puts a short
  // mark near a long space, and one threshold for both levels falls between them. Each
  // level that forms clusters of its own is cut between them instead.
  double level_threshold[2] = {threshold, threshold};
  if (mode == CodingMode::kBiPhase) {
    for (int level = 0; level < 2; ++level) {
      double ratio = 1.0;
      const double own =
          WidestGapCut(sorted[level].data(), count_of[level], count_of[level] * kWalkShare, &ratio);
      if (ratio >= kOwnCutRatio) level_threshold[level] = own;
    }
  }

  uint64_t acc = 0;
  int32_t count = 0;
  if (mode == CodingMode::kBiPhase && leader_dropped &&
      duration(0) < kLeastClusterRatio * max_of[1]) {
    // A first mark over the leader limit that is no longer than the train's other long
    // marks is a half-bit like them: dropping it would invert the phase of every bit
    // after it, and a first mark a microsecond either side of the limit would give two
    // codes. It is kept, and the result says so.
    std::copy_backward(w.begin(), w.begin() + k, w.begin() + k + 1);
    w[0] = {1, duration(0)};
    ++k;
    result.drop[0] = DecodedTrain::Drop::kKept;
    leader_dropped = false;
  }
  if (mode == CodingMode::kBiPhase) {
    acc = 1;
    count = 1;
    uint64_t phase = 1;
    int i = 0;
    while (i <= k - 1) {
      if (w[i].seconds > level_threshold[w[i].level]) {
        phase = 1 - phase;
        i += 1;
      } else {
        if (i == k - 1) break;
        i += w[i + 1].seconds < level_threshold[w[i + 1].level] ? 2 : 1;
      }
      acc = acc * 2 + phase;
      ++count;
      if (count == 3) acc &= ~uint64_t{1};
    }
  } else {
    const bool short_frame_rule = !long_leader && data_level == 0 && k == kShortFrameIntervals;
    for (int i = 0; i < k; ++i) {
      if (w[i].level != data_level) continue;
      acc = acc * 2 + (w[i].seconds > threshold ? 1 : 0);
      ++count;
      if (short_frame_rule) {
        const double next = i + 1 < k ? w[i + 1].seconds : 0.0;
        if ((count <= 2 && w[i].seconds + next > kShortFramePairSeconds) || count == 5) {
          acc &= ~uint64_t{1};
        }
      }
    }
  }

  if (decisions != nullptr) {
    *decisions = {mode, threshold,      {level_threshold[0], level_threshold[1]},
                  k,    leader_dropped, {clustered[0], clustered[1]}};
  }
  result.outcome = DecodedTrain::Outcome::kFull;
  result.shift_coded = mode == CodingMode::kBiPhase;
  result.thresholds.Mode = mode;
  if (mode == CodingMode::kBiPhase) {
    result.thresholds.SpaceSeconds = level_threshold[0];
    result.thresholds.MarkSeconds = level_threshold[1];
  } else {
    (mode == CodingMode::kMark ? result.thresholds.MarkSeconds : result.thresholds.SpaceSeconds) =
        threshold;
    result.thresholds.DecisionSeconds = threshold;
  }
  result.accumulator = acc;
  result.bit_count = count;
  result.code_length = CodeWithBitMask(acc, count, bit_mask, result.code_text.data());
  return result;
}

DecodedTrain DecodeWith(Decoding decoding, const PulseTrain& train, int32_t bit_mask) {
  return decoding == Decoding::kStable ? DecodeStable(train, bit_mask)
                                       : DecodePulseTrain(train, bit_mask);
}

}  // namespace sfh56
