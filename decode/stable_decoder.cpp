#include "decode/stable_decoder.h"

#include <algorithm>
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
  auto duration = [&](int c) {
    return SecondsBetween(train.Edges[c].Timestamp, train.Edges[c + 1].Timestamp, tps);
  };
  if (n == kRepeatFrameLastEdgeIndex && duration(0) > kRepeatFirstIntervalSeconds) {
    result.outcome = DecodedTrain::Outcome::kRepeat;
    return result;
  }
  if (n <= kMaxIgnoredLastEdgeIndex) return result;

  std::array<Interval, kEdgeCapacity> w;
  for (int c = 0; c < n; ++c) w[c] = {IntervalLevel(train.Edges[c]), duration(c)};

  const bool long_leader = w[0].seconds > kLongLeaderMarkSeconds &&
                           w[1].seconds > kLongLeaderSpaceSeconds &&
                           n >= kLongLeaderMinLastEdgeIndex;
  int k = 0;
  bool leader_dropped = false;
  result.interval_count = n;
  result.long_leader = long_leader;
  result.bit_of.fill(-1);
  for (int j = 0; j < n; ++j) {
    const double d = w[j].seconds;
    DecodedTrain::Drop& drop = result.drop[j];
    if (!(d < kGapSeconds)) {
      drop = DecodedTrain::Drop::kGap;
    } else if (long_leader && j < 2) {
      drop = DecodedTrain::Drop::kLongLeader;
    } else if (j == 0 && w[0].level == 1 && d > kLeaderMarkSeconds) {
      drop = DecodedTrain::Drop::kLeaderMark;
      leader_dropped = true;
    } else {
      w[k++] = w[j];
    }
  }

  // Statistics leave out the first two intervals, as the classic decoder does.
  const int first = k > kSkippedIntervals ? kSkippedIntervals : 0;
  const int last = k - 1;
  double min_of[2] = {100.0, 100.0};
  double max_of[2] = {0.0, 0.0};
  for (int i = first; i <= last; ++i) {
    const int level = w[i].level != 0 ? 1 : 0;
    min_of[level] = std::min(min_of[level], w[i].seconds);
    max_of[level] = std::max(max_of[level], w[i].seconds);
  }
  const double spread0 = max_of[0] - min_of[0];
  const double spread1 = max_of[1] - min_of[1];
  // Each level's durations, sorted once for every decision below. A level carries data
  // when they form more than one cluster; jitter alone must not choose the mode.
  std::array<std::array<double, kEdgeCapacity>, 2> sorted;
  int count_of[2] = {0, 0};
  for (int i = first; i <= last; ++i) {
    const int level = w[i].level != 0 ? 1 : 0;
    sorted[level][count_of[level]++] = w[i].seconds;
  }
  bool clustered[2] = {false, false};
  for (int level = 0; level < 2; ++level) {
    const double* v = sorted[level].data();
    std::sort(sorted[level].begin(), sorted[level].begin() + count_of[level]);
    for (int i = 0; i + 1 < count_of[level]; ++i) {
      if (v[i + 1] > kLeastClusterRatio * v[i]) clustered[level] = true;
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

  std::array<double, kEdgeCapacity> merged;
  const double* values = sorted[data_level].data();
  int m = count_of[data_level];
  if (mode == CodingMode::kBiPhase) {
    std::merge(sorted[0].begin(), sorted[0].begin() + count_of[0], sorted[1].begin(),
               sorted[1].begin() + count_of[1], merged.begin());
    values = merged.data();
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
    // codes.
    std::copy_backward(w.begin(), w.begin() + k, w.begin() + k + 1);
    w[0] = {1, duration(0)};
    ++k;
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
