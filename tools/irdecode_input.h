#pragma once
// Decoding of what the input readers (tools/ir_input.h) return, shared by the tool and
// the recorded-signal tests: recordings are split into the trains the serial capture
// would record, captured trains are decoded as they are.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/pulse_train.h"
#include "decode/decoder.h"
#include "decode/stable_decoder.h"
#include "tools/ir_input.h"

namespace sfh56::tools {

// The result of decoding one train: nullopt when nothing was delivered.
using TrainCode = std::optional<std::string>;

// The trains the serial capture would record from a recording (1 MHz ticks).
std::vector<PulseTrain> RecordingTrains(const Recording& recording);

// Decodes each train of RecordingTrains with state, with every train admitted
// (CommandOrder 0).
std::vector<TrainCode> DecodeRecording(const Recording& recording, int32_t bit_mask,
                                       DecoderState& state, ServiceLogSink* log = nullptr,
                                       Decoding decoding = Decoding::kClassic);

// Codes joined by spaces: "-" for nothing delivered, "\"\"" for the empty code.
std::string JoinCodes(const std::vector<TrainCode>& codes);

}  // namespace sfh56::tools
