#pragma once
// The stable decoding: a second way of turning a pulse train into a code, chosen by the
// StableCodes setting. Like the classic decoder (decode/decoder.h) it knows no protocol
// and derives the bits from the train's own durations, and it drops the same gaps and
// leaders; but its decisions (which levels carry data, the coding mode, the length that
// separates short from long, for bi-phase per level, and whether a first mark at the
// leader limit is a half-bit) sit in the widest gaps between the train's durations,
// weighed so that a few microseconds of timing noise on one edge cannot move them. Where
// the classic decoder's decisions are already far from every duration both give the
// same code.
//
// Pure: a train and the BitMask setting in, a DecodedTrain out; nothing allocated, nothing
// kept. The train pipeline (receiver/train_pipeline.h) decodes with either.

#include <array>
#include <cstdint>
#include <string_view>

#include "common/pulse_train.h"
#include "decode/decoder.h"

namespace sfh56 {

// The decisions of one stable decode, for tools that explain a code.
struct StableDecisions {
  CodingMode mode = CodingMode::kSpace;
  double threshold_seconds = 0.0;                  // short below, long above
  double level_threshold_seconds[2] = {0.0, 0.0};  // bi-phase: spaces [0], marks [1]
  int kept = 0;                                    // intervals left after gaps and leaders
  bool leader_dropped = false;                     // the first mark was taken as a leader
  bool data_in[2] = {false, false};  // spaces [0], marks [1] form more than one cluster
};

// Decodes one train with the stable decoding; bit_mask as for DecodePulseTrain. The result
// has the classic decoder's shape: outcome, shift_coded, interval_count, long_leader,
// thresholds (the coding mode; for bi-phase each level's own cut), drop, the bits'
// accumulator and count, and the code; the per-bit fields (bit_of, bits, cleared) are the
// classic decoder's alone and stay empty (bit_of -1). decisions, when given, receives what
// a full decode decided.
DecodedTrain DecodeStable(const PulseTrain& train, int32_t bit_mask,
                          StableDecisions* decisions = nullptr);

// Which of the two decodings gives the codes: the StableCodes setting, irdecode's
// --decoder.
enum class Decoding : uint8_t { kClassic, kStable };

// Decodes one train with the decoding chosen: DecodePulseTrain or DecodeStable.
DecodedTrain DecodeWith(Decoding decoding, const PulseTrain& train, int32_t bit_mask);

}  // namespace sfh56
