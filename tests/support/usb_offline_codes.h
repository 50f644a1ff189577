#pragma once
// The codes the decoder gives for signals reported by the USB receiver, decoded straight
// from their durations: what every USB capture path must deliver for the same signals.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/pulse_train.h"
#include "decode/decoder.h"
#include "tools/replay/durations.h"

namespace sfh56::test {

// One CodeBuffer for the whole sequence, BitMask 16 unless given. A signal that delivers
// nothing gives `undelivered` when that is not empty, and no entry otherwise.
inline std::vector<std::string> OfflineUsbCodes(const std::vector<std::vector<uint8_t>>& signals,
                                                double ticks_per_second,
                                                const std::string& undelivered = "",
                                                int bit_mask = 16) {
  std::vector<std::string> codes;
  DecoderState state;
  for (const auto& units : signals) {
    std::vector<double> microseconds;
    for (uint8_t unit : units) microseconds.push_back(unit * 1024.0 / 12.0);  // device unit
    PulseTrain train;
    EXPECT_TRUE(DurationsToTrain(microseconds, ticks_per_second, train));
    const DecodeResult result = Decoder::Decode(train, bit_mask, state);
    if (result.deliver) {
      codes.emplace_back(result.code);
    } else if (!undelivered.empty()) {
      codes.push_back(undelivered);
    }
  }
  return codes;
}

}  // namespace sfh56::test
