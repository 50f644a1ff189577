#pragma once
// Turns one captured pulse train into a remote-control code: an uppercase hexadecimal
// number derived from the spread of the train's interval lengths, with no knowledge of
// any remote-control protocol.
//
// DecodePulseTrain is a pure function: a PulseTrain and the BitMask setting in, the code
// and the decisions behind it out; nothing allocated. The train pipeline
// (receiver/train_pipeline.h) keeps the last code for repeat frames, writes the service
// log and delivers.

#include <array>
#include <cstdint>
#include <string_view>

#include "common/pulse_train.h"

namespace sfh56 {

// One interval of a train as the decoder keeps it and the threshold estimate reads it: the
// pin's level during the interval (1 = mark, the receiver reports carrier; 0 = space) and
// its duration in seconds. (No member initialisers: the decoder's scratch array of them is
// not cleared per decode.)
struct IntervalRecord {
  uint8_t Level;
  double Value;
};

// The level of the interval that begins at an edge: 1 (mark) when the pin is clear.
inline uint8_t IntervalLevel(const EdgeRecord& edge) {
  return edge.Status == 0 ? 1 : 0;
}

// Seconds from the edge at from_ticks to the edge at to_ticks: the difference of the two
// timestamps, converted once. Converting each timestamp first would give equal tick
// intervals durations that differ in their last bits, by an amount that grows with the
// machine's uptime, and the threshold counts exact repeats: codes would change after a
// reboot. The difference is taken modulo 2^64, as counters wrap, so that any two
// timestamps, even damaged ones, give a defined result.
inline double SecondsBetween(int64_t from_ticks, int64_t to_ticks, double ticks_per_second) {
  const auto ticks =
      static_cast<int64_t>(static_cast<uint64_t>(to_ticks) - static_cast<uint64_t>(from_ticks));
  return static_cast<double>(ticks) / ticks_per_second;
}

// The code text: at most 251 characters plus a terminating zero. A bi-phase train of
// 301 edges with BitMask 0 counts up to 301 bits, 76 digits; padding for a large
// BitMask is cut at the capacity.
inline constexpr int kCodeBufferBytes = 252;
inline constexpr int kMaxCodeChars = kCodeBufferBytes - 1;

// --- The decoder's rules, in seconds where they are times ----------------------------------
// A four-edge train (last edge index 3) whose first interval is longer than this is a
// repeat frame: the previous code again.
inline constexpr int kRepeatFrameLastEdgeIndex = 3;
inline constexpr double kRepeatFirstIntervalSeconds = 0.005;
// Trains whose last edge index is this or less (ten intervals or fewer) are noise.
inline constexpr int kMaxIgnoredLastEdgeIndex = 10;
// A long leader: a first interval longer than the mark limit, a second longer than the
// space limit, in a train of at least kLongLeaderMinLastEdgeIndex + 1 edges.
inline constexpr double kLongLeaderMarkSeconds = 0.005;
inline constexpr double kLongLeaderSpaceSeconds = 0.003;
inline constexpr int kLongLeaderMinLastEdgeIndex = 64;
// Intervals this long or longer are gaps and leaders.
inline constexpr double kGapSeconds = 0.0075;
// A first mark longer than this is a leader.
inline constexpr double kLeaderMarkSeconds = 0.003;
// Space-coded frames of exactly this many kept intervals clear their first two bits when
// their symbol pair is longer than kShortFramePairSeconds, and always their fifth bit.
inline constexpr int kShortFrameIntervals = 25;
inline constexpr double kShortFramePairSeconds = 0.004;
// Threshold statistics skip the first kSkippedIntervals kept intervals.
inline constexpr int kSkippedIntervals = 2;
// Bi-phase when the space spread over the mark spread lies strictly between these.
inline constexpr double kBiPhaseSpreadRatioLow = 5.0 / 7.0;
inline constexpr double kBiPhaseSpreadRatioHigh = 1.4;
// Each walk counts up to this share of the intervals (bi-phase; half of it otherwise).
inline constexpr double kWalkShare = 0.25;
// The downward walk has reached the short cluster when its duration over the short value
// lies strictly between these; a single cluster puts the threshold at this share of it.
inline constexpr double kShortClusterRatioLow = 0.75;
inline constexpr double kShortClusterRatioHigh = 4.0 / 3.0;
inline constexpr double kSingleClusterShare = 0.8;
// Placeholders of the threshold walks.
inline constexpr double kWalkTopSeconds = 100.0;
inline constexpr double kWalkBottomSeconds = 0.0;

enum class CodingMode { kSpace, kMark, kBiPhase };

// What EstimateThreshold derives from a filtered train.
struct Thresholds {
  CodingMode Mode = CodingMode::kSpace;
  double SpaceSeconds = 0.0;     // threshold for level 0 intervals (0 when mark-coded)
  double MarkSeconds = 0.0;      // threshold for level 1 intervals (0 when space-coded)
  double DecisionSeconds = 0.0;  // 0 for bi-phase
};

// Derives the coding mode and the thresholds from the filtered intervals first..last.
// Nothing allocated; one sort of at most kEdgeCapacity values.
Thresholds EstimateThreshold(const IntervalRecord* intervals, int first, int last);

// The decoder's result: the code and every decision that led to it, so that the receiver
// logs and delivers from it and tools draw a train and explain its code.
struct DecodedTrain {
  enum class Outcome : uint8_t {
    kIgnored,  // ten intervals or fewer: nothing delivered
    kRepeat,   // four edges with a long first interval: the previous code again
    kFull,     // decoded
  };
  // What the filter did with an interval.
  enum class Drop : uint8_t {
    kKept,
    kGap,         // 7.5 ms or longer: a gap or a leader
    kLongLeader,  // the mark or space of a long leader
    kLeaderMark,  // a first mark longer than 3 ms
  };
  // A bi-phase code counts a leading 1 and at most one bit per interval.
  static constexpr int kMaxBits = kEdgeCapacity + 1;

  // The fields below the outcome are written by a full decode only.
  Outcome outcome = Outcome::kIgnored;
  bool shift_coded = false;  // decoded as bi-phase
  int interval_count = 0;    // intervals between the train's edges
  bool long_leader = false;
  Thresholds thresholds;                        // with the coding mode
  std::array<Drop, kEdgeCapacity> drop{};       // per interval
  std::array<int16_t, kEdgeCapacity> bit_of{};  // per interval: the bit it gave, or -1
  int bit_count = 0;                            // bits shifted in, before BitMask
  std::array<uint8_t, kMaxBits> bits{};         // in the order received, as they end up
  std::array<bool, kMaxBits> cleared{};         // set to 0 by a rule, whatever the signal
  uint64_t accumulator = 0;                     // the last 64 bits, before BitMask
  // The code text with BitMask applied, zero-terminated.
  std::array<char, kCodeBufferBytes> code_text{};
  int code_length = 0;

  std::string_view Code() const { return {code_text.data(), static_cast<size_t>(code_length)}; }
};
using DecodeTrace = DecodedTrain;

// Decodes one train: a pure function of the train and the BitMask setting (0 keeps every
// bit, at most the last 64; 1..63 keep that many low bits; 64 and more keep every bit but
// still set the number of digits; a negative value, from a damaged registry value, is
// taken as 0). A repeat frame's code is the caller's: the decoder keeps no state. Nothing
// is allocated, logged or delivered.
DecodedTrain DecodePulseTrain(const PulseTrain& train, int32_t bit_mask);

// The last code, re-sent for a repeat frame: CodeBuffer, kept by whoever delivers codes.
class DecoderState {
 public:
  std::string_view Code() const { return {code_.data(), static_cast<size_t>(code_length_)}; }
  const char* CodeCString() const { return code_.data(); }
  // Takes the code of a full decode.
  void Remember(const DecodedTrain& decoded) {
    code_ = decoded.code_text;
    code_length_ = decoded.code_length;
  }

 private:
  std::array<char, kCodeBufferBytes> code_{};  // zero-terminated, empty at first
  int code_length_ = 0;
};

// The service log as the decoder sees it (ServiceMode on). Implemented by
// ServiceLogWriter (decode/service_log.h) and by test recorders.
class ServiceLogSink {
 public:
  virtual ~ServiceLogSink() = default;
  // Opens the log and writes the record's head for the first edge_count edges of the
  // train (the edges the decoder read); false when the log could not be opened (decoding
  // goes on).
  virtual bool OpenAndWriteHead(const PulseTrain& train, int edge_count) = 0;
  // Called only after a successful OpenAndWriteHead, after the code was delivered.
  virtual void WriteCodeLineAndClose(std::string_view code, bool shift_coded) = 0;
};

// Receives the code to hand to the host; called at most once per decode, after the log
// head and before the log's code line.
class CodeSink {
 public:
  virtual ~CodeSink() = default;
  virtual void Deliver(std::string_view code) = 0;
};

// The result of one decode. When deliver is true, code is the text to hand to the host
// (it may be empty: a repeat frame before any code was decoded). code views the
// DecoderState's buffer and stays valid until the next decode with that state.
struct DecodeResult {
  bool deliver = false;
  std::string_view code;
  bool full_decode = false;  // false for a repeat frame or an ignored train
  bool shift_coded = false;  // meaningful for a full decode
};

class Decoder {
 public:
  // DecodePulseTrain with the last code kept in state, the service log written around the
  // delivery to sink (either may be null).
  static DecodeResult Decode(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                             ServiceLogSink* log = nullptr, CodeSink* sink = nullptr);

  // The same decode (no log, no sink), its decisions copied to trace.
  static DecodeResult Decode(const PulseTrain& train, int32_t bit_mask, DecoderState& state,
                             DecodeTrace& trace);
};

// What happens to a decode, whichever decoding made it (Decoder::Decode's, the train
// pipeline's): a full decode's code kept in state, the log's head before the delivery to
// sink and its code line after it; a repeat frame delivers the code in state.
DecodeResult HandOnDecode(const DecodedTrain& decoded, const PulseTrain& train, DecoderState& state,
                          ServiceLogSink* log = nullptr, CodeSink* sink = nullptr);

// The code text of a decoded accumulator of bit_count bits with the BitMask setting
// applied, as a decode writes it: into out (kCodeBufferBytes bytes), zero-terminated;
// returns its length. For tools that try every BitMask on one decoded train.
int CodeWithBitMask(uint64_t accumulator, int32_t bit_count, int32_t bit_mask, char* out);

// Writes value as uppercase hexadecimal with at least min_digits digits (at least one
// digit; at most max_chars characters in total, the padding is cut first) into out,
// zero-terminated; returns the number of characters. out holds max_chars + 1 bytes.
int FormatHexCode(uint64_t value, int min_digits, char* out, int max_chars);

}  // namespace sfh56
