#include "decode/decoder.h"

#include <algorithm>

namespace sfh56 {
namespace {

// A four-edge train whose first interval is longer than this is a repeat frame.
constexpr double kRepeatFirstIntervalSeconds = 0.005;
// Trains of this many intervals or fewer are noise.
constexpr int kMaxIgnoredLastEdgeIndex = 10;
// Long leader: first interval, second interval, and the least edge index.
constexpr double kLongLeaderMarkSeconds = 0.005;
constexpr double kLongLeaderSpaceSeconds = 0.003;
constexpr int kLongLeaderMinLastEdgeIndex = 64;
// Intervals this long or longer are gaps and leaders.
constexpr double kGapSeconds = 0.0075;
// A first mark longer than this is a leader.
constexpr double kLeaderMarkSeconds = 0.003;
// The 25-interval space-coded frame: a leading symbol pair longer than this.
constexpr int kShortFrameIntervals = 25;
constexpr double kShortFramePairSeconds = 0.004;

// Placeholders of the threshold walks.
constexpr double kWalkTopSeconds = 100.0;
constexpr double kWalkBottomSeconds = 0.0;

// The receiver's decode records nothing: every call below is empty and inlined away, so
// its code is the same as without any trace.
struct NoTrace {
  void Outcome(DecodeTrace::Outcome) {}
  void Intervals(int, bool) {}
  void Dropped(int, DecodeTrace::Drop) {}
  void Kept(int, int) {}
  void Estimated(const Thresholds&) {}
  void Bit(int, int, int, uint64_t, bool) {}
  void Accumulated(uint64_t, int32_t) {}
};

// Fills a DecodeTrace, mapping the filtered intervals back to the train's intervals.
class TraceRecorder {
 public:
  explicit TraceRecorder(DecodeTrace& trace) : t_(trace) { t_ = DecodeTrace{}; }
  void Outcome(DecodeTrace::Outcome outcome) { t_.outcome = outcome; }
  void Intervals(int count, bool long_leader) {
    t_.interval_count = count;
    t_.long_leader = long_leader;
    t_.bit_of.fill(-1);
  }
  void Dropped(int interval, DecodeTrace::Drop why) {
    t_.drop[static_cast<size_t>(interval)] = why;
  }
  void Kept(int filtered, int interval) {
    interval_of_[static_cast<size_t>(filtered)] = static_cast<int16_t>(interval);
  }
  void Estimated(const Thresholds& thresholds) { t_.thresholds = thresholds; }
  // Bit number index (0 = the first shifted in) came from the filtered intervals
  // first..last (none when last < first); the accumulator holds it in its lowest bit.
  void Bit(int index, int first, int last, uint64_t accumulator, bool cleared) {
    if (index < 0 || index >= DecodeTrace::kMaxBits) return;
    for (int i = first; i <= last; ++i) {
      t_.bit_of[static_cast<size_t>(interval_of_[static_cast<size_t>(i)])] =
          static_cast<int16_t>(index);
    }
    t_.bits[static_cast<size_t>(index)] = static_cast<uint8_t>(accumulator & 1);
    t_.cleared[static_cast<size_t>(index)] = cleared;
  }
  void Accumulated(uint64_t accumulator, int32_t count) {
    t_.accumulator = accumulator;
    t_.bit_count = count;
  }

 private:
  DecodeTrace& t_;
  std::array<int16_t, kEdgeCapacity> interval_of_{};
};

}  // namespace

Thresholds EstimateThreshold(const IntervalRecord* in, int first, int last) {
  if (first + 1 < last) first += 2;  // the first two intervals take no part

  double min_of[2] = {kWalkTopSeconds, kWalkTopSeconds};
  double max_of[2] = {0.0, 0.0};
  for (int i = first; i <= last; ++i) {
    const int level = in[i].Level != 0 ? 1 : 0;
    const double d = in[i].Value;
    if (d < min_of[level]) min_of[level] = d;
    if (d > max_of[level]) max_of[level] = d;
  }
  // A level without intervals keeps 0 - 100 = -100.
  const double spread0 = max_of[0] - min_of[0];
  const double spread1 = max_of[1] - min_of[1];

  double limit = (last - first) * 0.25;
  Thresholds result;
  if (spread1 != 0.0 && 5.0 / 7.0 < spread0 / spread1 && spread0 / spread1 < 1.4) {
    result.Mode = CodingMode::kBiPhase;
  } else {
    result.Mode = spread0 < spread1 ? CodingMode::kMark : CodingMode::kSpace;
    limit /= 2;
  }
  const bool all_levels = result.Mode == CodingMode::kBiPhase;
  const uint8_t data_level = result.Mode == CodingMode::kMark ? 1 : 0;
  auto in_set = [&](int i) { return all_levels || (in[i].Level != 0 ? 1 : 0) == data_level; };

  // Upward walk through the distinct durations: each step moves prev to the next larger
  // duration (or to the placeholder 100 s when there is none) and counts the durations
  // equal to prev, so a repeated duration is counted in the step after the walk moved
  // onto it. The walk ends when the count reaches the limit, on whatever prev then is.
  //
  // Once on its placeholder a walk finds nothing more and can only count durations equal
  // to the placeholder; when there are none it would step forever. It then ends on the
  // last duration it actually visited (its start value when it visited none).
  double short_value = kWalkBottomSeconds;
  {
    double prev = kWalkBottomSeconds;
    double last_visited = prev;
    int count = 1;
    while (count < limit) {
      const int count_before = count;
      double m = kWalkTopSeconds;
      for (int i = first; i <= last; ++i) {
        if (!in_set(i)) continue;
        const double d = in[i].Value;
        if (prev < d && d < m) m = d;
        if (d == prev) ++count;
      }
      if (prev == kWalkTopSeconds && count == count_before) {
        prev = last_visited;
        break;
      }
      prev = m;
      if (m != kWalkTopSeconds) last_visited = m;
    }
    short_value = prev;
  }

  // Downward walk from the placeholder 100 s, which stops early when it reaches the short
  // cluster. Its placeholder at the bottom is 0 s; it ends as the upward walk.
  double long_value = kWalkTopSeconds;
  {
    double prev = kWalkTopSeconds;
    double last_visited = prev;
    int count = 1;
    while (count < limit) {
      const int count_before = count;
      double m = kWalkBottomSeconds;
      for (int i = first; i <= last; ++i) {
        if (!in_set(i)) continue;
        const double d = in[i].Value;
        if (m < d && d < prev) m = d;
        if (d == prev) ++count;
      }
      if (short_value != 0.0 && 0.75 < m / short_value && m / short_value < 4.0 / 3.0) {
        if (prev != kWalkTopSeconds) break;  // long := prev
        // The largest duration lies in the short cluster: a single cluster.
        short_value = 0.8 * short_value;
        prev = short_value;
        break;
      }
      if (prev == kWalkBottomSeconds && count == count_before) {
        prev = last_visited;
        break;
      }
      prev = m;
      if (m != kWalkBottomSeconds) last_visited = m;
    }
    long_value = prev;
  }

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
  // J. BitMask.
  if (bit_mask > 0) {
    if (bit_mask < 64) accumulator &= (uint64_t{1} << bit_mask) - 1;
    bit_count = bit_mask;
  }
  // K. Text: count / 4 digits rounded up.
  const int digits = bit_count / 4 + (bit_count % 4 != 0 ? 1 : 0);
  return FormatHexCode(accumulator, digits, out, kMaxCodeChars);
}

DecodeResult Decoder::Decode(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                             ServiceLogSink* log, CodeSink* sink) {
  NoTrace trace;
  return Run(train, bit_mask, state, log, sink, trace);
}

DecodeResult Decoder::Decode(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                             DecodeTrace& trace) {
  TraceRecorder recorder(trace);
  return Run(train, bit_mask, state, nullptr, nullptr, recorder);
}

template <typename Trace>
DecodeResult Decoder::Run(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                          ServiceLogSink* log, CodeSink* sink, Trace& trace) {
  // A record count beyond the array (never written by a capture path) is read as a full
  // array rather than past it.
  const int n = std::min<int32_t>(train.LastEdgeIndex, kEdgeCapacity - 1);
  const double tps = train.TicksPerSecond;

  // Every duration below is the tick difference of its own two edges, converted once:
  // a train's code depends on its tick durations, levels and rate, never on its start.
  auto duration = [&](int c) {
    return SecondsBetween(train.Edges[c].Timestamp, train.Edges[c + 1].Timestamp, tps);
  };

  // A. Repeat frame: the previous code again.
  if (n == 3) {
    if (duration(0) > kRepeatFirstIntervalSeconds) {
      trace.Outcome(DecodeTrace::Outcome::kRepeat);
      DecodeResult result{true, state.Code(), false, false};
      if (sink != nullptr) sink->Deliver(result.code);
      return result;
    }
  }
  // B. Short trains.
  if (n <= kMaxIgnoredLastEdgeIndex) return {};

  // C, E. Levels and durations of the intervals 0..N-1 (the last edge begins none).
  IntervalRecord* w = state.work_.data();
  for (int c = 0; c < n; ++c) w[c] = {IntervalLevel(train.Edges[c]), duration(c)};

  // D. Service log head, from the train's own ticks.
  const bool logging = log != nullptr && log->OpenAndWriteHead(train, n + 1);

  // F. Long leader.
  const bool long_leader = w[0].Value > kLongLeaderMarkSeconds &&
                           w[1].Value > kLongLeaderSpaceSeconds && n >= kLongLeaderMinLastEdgeIndex;
  trace.Intervals(n, long_leader);

  // G. Filter gaps and leaders, compacting in place.
  int k = 0;
  for (int j = 0; j < n; ++j) {
    const double d = w[j].Value;
    if (!(d < kGapSeconds)) {
      trace.Dropped(j, DecodeTrace::Drop::kGap);
      continue;
    }
    if (long_leader && j < 2) {
      trace.Dropped(j, DecodeTrace::Drop::kLongLeader);
      continue;
    }
    if (j == 0 && w[0].Level == 1 && d > kLeaderMarkSeconds) {
      trace.Dropped(j, DecodeTrace::Drop::kLeaderMark);
      continue;
    }
    trace.Kept(k, j);
    w[k++] = w[j];
  }

  // H. Thresholds.
  const Thresholds th = EstimateThreshold(w, 0, k - 1);
  const bool shift_coded = th.DecisionSeconds == 0.0;
  trace.Estimated(th);

  // I. Bits.
  state.code_[0] = '\0';
  state.code_length_ = 0;
  uint64_t acc = 0;
  int32_t count = 0;
  if (shift_coded) {
    auto level_threshold = [&](uint8_t level) {
      return level != 0 ? th.MarkSeconds : th.SpaceSeconds;
    };
    acc = 1;
    count = 1;
    trace.Bit(0, 0, -1, acc, false);
    uint64_t phase = 1;
    int i = 0;
    while (i <= k - 1) {
      const int first = i;
      if (w[i].Value > level_threshold(w[i].Level)) {
        phase = 1 - phase;
        i += 1;
      } else {
        if (i == k - 1) break;
        // Two short half-bits make one bit.
        i += w[i + 1].Value < level_threshold(w[i].Level != 0 ? 0 : 1) ? 2 : 1;
      }
      acc = acc * 2 + phase;
      ++count;
      if (count == 3) acc &= ~uint64_t{1};  // the third bit is always 0
      trace.Bit(count - 1, first, i - 1, acc, count == 3);
    }
  } else {
    const uint8_t data_level = th.MarkSeconds != 0.0 ? 1 : 0;
    const bool short_frame_rule = !long_leader && data_level == 0 && k == kShortFrameIntervals;
    for (int i = 0; i < k; ++i) {
      if (w[i].Level != data_level) continue;
      acc = acc * 2 + (w[i].Value > th.DecisionSeconds ? 1 : 0);
      ++count;
      bool cleared = false;
      if (short_frame_rule) {
        // Nothing follows the last interval: its pair is the interval alone.
        const double next = i + 1 < k ? w[i + 1].Value : 0.0;
        if ((count <= 2 && w[i].Value + next > kShortFramePairSeconds) || count == 5) {
          acc &= ~uint64_t{1};
          cleared = true;
        }
      }
      trace.Bit(count - 1, i, i, acc, cleared);
    }
  }

  trace.Accumulated(acc, count);
  trace.Outcome(DecodeTrace::Outcome::kFull);

  // J, K. BitMask and text.
  state.code_length_ = CodeWithBitMask(acc, count, bit_mask, state.code_.data());

  // L. Delivery, then the log's code line.
  DecodeResult result{true, state.Code(), true, shift_coded};
  if (sink != nullptr) sink->Deliver(result.code);
  if (logging) log->WriteCodeLineAndClose(result.code, shift_coded);
  return result;
}

}  // namespace sfh56
