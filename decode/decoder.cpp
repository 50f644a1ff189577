#include "decode/decoder.h"

#include <algorithm>
#include <bit>

namespace sfh56 {
namespace {

int LevelIndex(const IntervalRecord& interval) {
  return interval.Level != 0 ? 1 : 0;
}

// The durations of a walk's candidate set, sorted. The walks visit the distinct positive
// durations in order, the upward one from the smallest, the downward one from the
// largest. Positive doubles order as their bit patterns do, which compare as integers.
// One whole sort of the few dozen durations of a train costs less than ordering each end
// lazily (a selection, then a sort of what a walk reaches). Zeros and the placeholder
// value are counted apart: a walk standing on a placeholder counts them at every step.
// Negative durations and NaN are never visited nor counted.
class CandidateSet {
 public:
  // ticks: each interval's tick count, of which its duration is the quotient by a positive
  // rate (or null). Both conversions round monotonically, so ordering the tick counts
  // orders the durations, equal ones side by side; a train's tick counts span a few
  // thousand and sort in two counting passes, without the mispredicted branches of a
  // comparison sort.
  CandidateSet(const IntervalRecord* in, const int64_t* ticks, int first, int last, bool all_levels,
               int data_level) {
    int64_t low = INT64_MAX;
    int64_t high = INT64_MIN;
    for (int i = first; i <= last; ++i) {
      if (!all_levels && LevelIndex(in[i]) != data_level) continue;
      const double d = in[i].Value;
      if (d == 0.0) {
        ++zeros_;
      } else if (d > 0.0) {
        if (d == kWalkTopSeconds) ++tops_;
        if (ticks != nullptr) {
          ticks_[size_] = ticks[i];
          low = std::min(low, ticks[i]);
          high = std::max(high, ticks[i]);
        }
        keys_[size_++] = std::bit_cast<uint64_t>(d);
      }
    }
    const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    if (ticks != nullptr && size_ > 0 && span < (uint64_t{1} << 16)) {
      SortByTicks(low, span);
    } else {
      std::sort(keys_.data(), keys_.data() + size_);
    }
  }

 private:
  // Two stable counting passes over the tick counts' offsets from low, the low half of
  // their bits, then the high half: as few buckets to clear as the span needs.
  void SortByTicks(int64_t low, uint64_t span) {
    const int shift = (std::bit_width(span) + 1) / 2;
    const int buckets = 1 << shift;
    const uint32_t mask = static_cast<uint32_t>(buckets - 1);
    std::array<uint32_t, kEdgeCapacity> offset;
    std::array<uint32_t, kEdgeCapacity> offset_tmp;
    std::array<uint64_t, kEdgeCapacity> keys_tmp;
    std::array<int, 256> low_count;
    std::array<int, 256> high_count;
    std::fill_n(low_count.data(), buckets, 0);
    std::fill_n(high_count.data(), buckets, 0);
    for (int i = 0; i < size_; ++i) {
      offset[i] =
          static_cast<uint32_t>(static_cast<uint64_t>(ticks_[i]) - static_cast<uint64_t>(low));
      ++low_count[offset[i] & mask];
      ++high_count[offset[i] >> shift];
    }
    int low_sum = 0;
    int high_sum = 0;
    for (int b = 0; b < buckets; ++b) {
      const int l = low_count[b];
      low_count[b] = low_sum;
      low_sum += l;
      const int h = high_count[b];
      high_count[b] = high_sum;
      high_sum += h;
    }
    for (int i = 0; i < size_; ++i) {
      const int to = low_count[offset[i] & mask]++;
      offset_tmp[to] = offset[i];
      keys_tmp[to] = keys_[i];
    }
    for (int i = 0; i < size_; ++i) keys_[high_count[offset_tmp[i] >> shift]++] = keys_tmp[i];
  }

 public:
  int Size() const { return size_; }
  int Zeros() const { return zeros_; }
  int Tops() const { return tops_; }
  // The i-th smallest positive duration (0 <= i < Size()).
  double Low(int i) const { return std::bit_cast<double>(keys_[i]); }
  double High(int i) const { return Low(i); }

 private:
  std::array<uint64_t, kEdgeCapacity> keys_;
  std::array<int64_t, kEdgeCapacity> ticks_;
  int size_ = 0;
  int zeros_ = 0;
  int tops_ = 0;
};

// Upward walk through the distinct durations: each step moves to the next larger duration
// (or to the placeholder 100 s when there is none) and counts the durations equal to the
// one it leaves, so a repeated duration is counted in the step after the walk moved onto
// it. The walk ends when the count reaches the limit, on whatever it then stands on.
//
// Once on its placeholder a walk finds nothing more and can only count durations equal
// to it; when there are none it would step forever. It then ends on the last duration it
// actually visited (its start value when it visited none).
double ShortValue(const CandidateSet& set, double limit) {
  double at = kWalkBottomSeconds;
  double last_visited = at;
  int count = 1;
  int next = 0;  // the first positive duration above at
  while (count < limit) {
    int counted = 0;
    if (at == kWalkBottomSeconds) {
      counted = set.Zeros();
    } else if (at == kWalkTopSeconds) {
      counted = set.Tops();
    } else {
      while (next < set.Size() && set.Low(next) == at) {
        ++counted;
        ++next;
      }
    }
    count += counted;
    if (at == kWalkTopSeconds && counted == 0) return last_visited;
    at = next < set.Size() && set.Low(next) < kWalkTopSeconds ? set.Low(next) : kWalkTopSeconds;
    if (at != kWalkTopSeconds) last_visited = at;
  }
  return at;
}

// Downward walk from the placeholder 100 s towards the placeholder 0 s; it stops early
// when it reaches the short cluster, and may then lower short_value (a single cluster).
double LongValue(const CandidateSet& set, double limit, double& short_value) {
  double at = kWalkTopSeconds;
  double last_visited = at;
  int count = 1;
  int next = set.Size() - 1;  // the last positive duration below at
  while (next >= 0 && set.High(next) >= kWalkTopSeconds) --next;
  while (count < limit) {
    int counted = 0;
    if (at == kWalkBottomSeconds) {
      counted = set.Zeros();
    } else if (at == kWalkTopSeconds) {
      counted = set.Tops();
    } else {
      while (next >= 0 && set.High(next) == at) {
        ++counted;
        --next;
      }
    }
    count += counted;
    const double below = next >= 0 ? set.High(next) : kWalkBottomSeconds;
    if (short_value != 0.0) {
      const double ratio = below / short_value;
      if (kShortClusterRatioLow < ratio && ratio < kShortClusterRatioHigh) {
        if (at != kWalkTopSeconds) return at;
        // The largest duration lies in the short cluster: a single cluster.
        short_value = kSingleClusterShare * short_value;
        return short_value;
      }
    }
    if (at == kWalkBottomSeconds && counted == 0) return last_visited;
    at = below;
    if (at != kWalkBottomSeconds) last_visited = at;
  }
  return at;
}

// EstimateThreshold; ticks (or null): each interval's tick count, when every duration is
// its quotient by one positive rate.
Thresholds EstimateThresholdOf(const IntervalRecord* in, const int64_t* ticks, int first, int last);

// The decode's steps over one train, writing into the result as they go.
class TrainDecode {
 public:
  TrainDecode(const PulseTrain& train, DecodedTrain& out) : train_(train), out_(out) {
    // A record count beyond the array (never written by a capture path) is read as a
    // full array rather than past it.
    last_edge_ = std::min<int32_t>(train.LastEdgeIndex, kEdgeCapacity - 1);
  }

  void Run(int32_t bit_mask) {
    if (last_edge_ == kRepeatFrameLastEdgeIndex && Duration(0) > kRepeatFirstIntervalSeconds) {
      out_.outcome = DecodedTrain::Outcome::kRepeat;
      return;
    }
    if (last_edge_ <= kMaxIgnoredLastEdgeIndex) return;

    ReadAndFilterIntervals();
    // Only a positive rate converts tick counts to durations in the same order.
    out_.thresholds = EstimateThresholdOf(
        kept_.data(), train_.TicksPerSecond > 0.0 ? kept_ticks_.data() : nullptr, 0,
        kept_count_ - 1);
    out_.shift_coded = out_.thresholds.DecisionSeconds == 0.0;
    if (out_.shift_coded) {
      ShiftBiPhaseBits();
    } else {
      ShiftLengthBits();
    }
    out_.outcome = DecodedTrain::Outcome::kFull;
    out_.code_length =
        CodeWithBitMask(out_.accumulator, out_.bit_count, bit_mask, out_.code_text.data());
  }

 private:
  // Every duration is the tick difference of its own two edges, converted once: a train's
  // code depends on its tick durations, levels and rate, never on its start.
  double Duration(int edge) const {
    return SecondsBetween(train_.Edges[edge].Timestamp, train_.Edges[edge + 1].Timestamp,
                          train_.TicksPerSecond);
  }
  // The tick count that Duration converts.
  int64_t Ticks(int edge) const {
    return static_cast<int64_t>(static_cast<uint64_t>(train_.Edges[edge + 1].Timestamp) -
                                static_cast<uint64_t>(train_.Edges[edge].Timestamp));
  }

  // Reads the intervals 0..N-1 (the last edge begins none) and keeps those that are
  // neither gaps nor leaders, in one pass: only the first two can be leaders, so the rest
  // are kept or dropped without a branch.
  void ReadAndFilterIntervals() {
    out_.interval_count = last_edge_;
    const IntervalRecord head[2] = {{IntervalLevel(train_.Edges[0]), Duration(0)},
                                    {IntervalLevel(train_.Edges[1]), Duration(1)}};
    out_.long_leader = head[0].Value > kLongLeaderMarkSeconds &&
                       head[1].Value > kLongLeaderSpaceSeconds &&
                       last_edge_ >= kLongLeaderMinLastEdgeIndex;
    out_.bit_of.fill(-1);
    for (int interval = 0; interval < 2; ++interval) {
      const DecodedTrain::Drop drop = HeadDropOf(interval, head[interval]);
      out_.drop[interval] = drop;
      if (drop != DecodedTrain::Drop::kKept) continue;
      origin_[kept_count_] = static_cast<int16_t>(interval);
      kept_ticks_[kept_count_] = Ticks(interval);
      kept_[kept_count_++] = head[interval];
    }
    for (int interval = 2; interval < last_edge_; ++interval) {
      const int64_t ticks = Ticks(interval);
      const double value = static_cast<double>(ticks) / train_.TicksPerSecond;  // Duration
      const bool kept = value < kGapSeconds;
      out_.drop[interval] = kept ? DecodedTrain::Drop::kKept : DecodedTrain::Drop::kGap;
      origin_[kept_count_] = static_cast<int16_t>(interval);
      kept_ticks_[kept_count_] = ticks;
      kept_[kept_count_] = {IntervalLevel(train_.Edges[interval]), value};
      kept_count_ += kept ? 1 : 0;
    }
  }

  // What the filter does with interval 0 or 1.
  DecodedTrain::Drop HeadDropOf(int interval, const IntervalRecord& in) const {
    if (!(in.Value < kGapSeconds)) return DecodedTrain::Drop::kGap;
    if (out_.long_leader) return DecodedTrain::Drop::kLongLeader;
    if (interval == 0 && in.Level == 1 && in.Value > kLeaderMarkSeconds) {
      return DecodedTrain::Drop::kLeaderMark;
    }
    return DecodedTrain::Drop::kKept;
  }

  // Shifts one bit in; it came from the kept intervals first..last (none when last <
  // first). cleared: a rule sets it to 0.
  void ShiftIn(uint64_t bit, int first, int last, bool cleared) {
    out_.accumulator = out_.accumulator * 2 + bit;
    if (cleared) out_.accumulator &= ~uint64_t{1};
    const int index = out_.bit_count++;
    if (index >= DecodedTrain::kMaxBits) return;
    for (int i = first; i <= last; ++i) out_.bit_of[origin_[i]] = static_cast<int16_t>(index);
    out_.bits[index] = static_cast<uint8_t>(out_.accumulator & 1);
    out_.cleared[index] = cleared;
  }

  // Bi-phase: a long interval flips the phase, two short half-bits make one bit; the
  // code begins with a 1, and its third bit is always 0.
  void ShiftBiPhaseBits() {
    const Thresholds& th = out_.thresholds;
    auto threshold_of = [&](uint8_t level) {
      return level != 0 ? th.MarkSeconds : th.SpaceSeconds;
    };
    ShiftIn(1, 0, -1, false);
    uint64_t phase = 1;
    int i = 0;
    while (i <= kept_count_ - 1) {
      const int first = i;
      if (kept_[i].Value > threshold_of(kept_[i].Level)) {
        phase = 1 - phase;
        i += 1;
      } else {
        if (i == kept_count_ - 1) break;
        const uint8_t other_level = kept_[i].Level != 0 ? 0 : 1;
        i += kept_[i + 1].Value < threshold_of(other_level) ? 2 : 1;
      }
      ShiftIn(phase, first, i - 1, out_.bit_count + 1 == 3);
    }
  }

  // Space- or mark-coded: every interval of the data level is one bit, 1 when longer than
  // the decision threshold.
  void ShiftLengthBits() {
    const Thresholds& th = out_.thresholds;
    const uint8_t data_level = th.MarkSeconds != 0.0 ? 1 : 0;
    const bool short_frame_rule =
        !out_.long_leader && data_level == 0 && kept_count_ == kShortFrameIntervals;
    for (int i = 0; i < kept_count_; ++i) {
      if (kept_[i].Level != data_level) continue;
      bool cleared = false;
      if (short_frame_rule) {
        // Nothing follows the last interval: its pair is the interval alone.
        const double next = i + 1 < kept_count_ ? kept_[i + 1].Value : 0.0;
        const int number = out_.bit_count + 1;
        cleared = (number <= 2 && kept_[i].Value + next > kShortFramePairSeconds) || number == 5;
      }
      ShiftIn(kept_[i].Value > th.DecisionSeconds ? 1 : 0, i, i, cleared);
    }
  }

  const PulseTrain& train_;
  DecodedTrain& out_;
  int last_edge_ = 0;
  // The kept intervals; origin_: each kept one's interval.
  std::array<IntervalRecord, kEdgeCapacity> kept_;
  std::array<int16_t, kEdgeCapacity> origin_;
  std::array<int64_t, kEdgeCapacity> kept_ticks_;
  int kept_count_ = 0;
};

}  // namespace

Thresholds EstimateThreshold(const IntervalRecord* in, int first, int last) {
  return EstimateThresholdOf(in, nullptr, first, last);
}

namespace {

Thresholds EstimateThresholdOf(const IntervalRecord* in, const int64_t* ticks, int first,
                               int last) {
  if (first + 1 < last) first += kSkippedIntervals;

  // Held apart rather than indexed by level: each minimum and maximum stays in a register.
  double space_min = kWalkTopSeconds;
  double space_max = 0.0;
  double mark_min = kWalkTopSeconds;
  double mark_max = 0.0;
  for (int i = first; i <= last; ++i) {
    const double value = in[i].Value;
    if (LevelIndex(in[i]) != 0) {
      mark_min = std::min(mark_min, value);
      mark_max = std::max(mark_max, value);
    } else {
      space_min = std::min(space_min, value);
      space_max = std::max(space_max, value);
    }
  }
  // A level without intervals keeps 0 - 100 = -100.
  const double space_spread = space_max - space_min;
  const double mark_spread = mark_max - mark_min;

  double limit = (last - first) * kWalkShare;
  Thresholds result;
  if (mark_spread != 0.0 && kBiPhaseSpreadRatioLow < space_spread / mark_spread &&
      space_spread / mark_spread < kBiPhaseSpreadRatioHigh) {
    result.Mode = CodingMode::kBiPhase;
  } else {
    result.Mode = space_spread < mark_spread ? CodingMode::kMark : CodingMode::kSpace;
    limit /= 2;
  }
  CandidateSet set(in, ticks, first, last, result.Mode == CodingMode::kBiPhase,
                   result.Mode == CodingMode::kMark ? 1 : 0);
  double short_value = ShortValue(set, limit);
  const double long_value = LongValue(set, limit, short_value);

  const double threshold = (short_value + long_value) / 2;
  result.SpaceSeconds = threshold;
  result.MarkSeconds = threshold;
  switch (result.Mode) {
    case CodingMode::kSpace:
      result.MarkSeconds = 0.0;
      result.DecisionSeconds = threshold;
      break;
    case CodingMode::kMark:
      result.SpaceSeconds = 0.0;
      result.DecisionSeconds = threshold;
      break;
    case CodingMode::kBiPhase:
      result.DecisionSeconds = 0.0;
      break;
  }
  return result;
}

}  // namespace

int FormatHexCode(uint64_t value, int min_digits, char* out, int max_chars) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  const int padding = std::max(0, std::min(min_digits, max_chars) - n);
  int length = 0;
  for (int i = 0; i < padding; ++i) out[length++] = '0';
  while (n > 0) out[length++] = digits[--n];
  out[length] = '\0';
  return length;
}

int CodeWithBitMask(uint64_t accumulator, int32_t bit_count, int32_t bit_mask, char* out) {
  if (bit_mask > 0) {
    if (bit_mask < 64) accumulator &= (uint64_t{1} << bit_mask) - 1;
    bit_count = bit_mask;
  }
  // count / 4 digits rounded up.
  const int digits = bit_count / 4 + (bit_count % 4 != 0 ? 1 : 0);
  return FormatHexCode(accumulator, digits, out, kMaxCodeChars);
}

DecodedTrain DecodePulseTrain(const PulseTrain& train, int32_t bit_mask) {
  DecodedTrain out;
  TrainDecode(train, out).Run(bit_mask);
  return out;
}

DecodeResult Decoder::Decode(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                             ServiceLogSink* log, CodeSink* sink) {
  return HandOnDecode(DecodePulseTrain(train, bit_mask), train, state, log, sink);
}

DecodeResult HandOnDecode(const DecodedTrain& decoded, const PulseTrain& train, DecoderState& state,
                          ServiceLogSink* log, CodeSink* sink) {
  if (decoded.outcome == DecodedTrain::Outcome::kIgnored) return {};
  if (decoded.outcome == DecodedTrain::Outcome::kRepeat) {
    if (sink != nullptr) sink->Deliver(state.Code());
    return {true, state.Code(), false, false};
  }
  const bool logging = log != nullptr && log->OpenAndWriteHead(train, decoded.interval_count + 1);
  state.Remember(decoded);
  if (sink != nullptr) sink->Deliver(state.Code());
  if (logging) log->WriteCodeLineAndClose(state.Code(), decoded.shift_coded);
  return {true, state.Code(), true, decoded.shift_coded};
}

DecodeResult Decoder::Decode(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                             DecodeTrace& trace) {
  trace = DecodePulseTrain(train, bit_mask);
  return HandOnDecode(trace, train, state);
}

}  // namespace sfh56
