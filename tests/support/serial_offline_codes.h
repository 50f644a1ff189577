#pragma once
// The bundled serial-port presses and the codes the decoder gives for them when their
// durations are cut into trains offline: what every serial capture path must deliver.

#include <fstream>
#include <string>
#include <vector>

#include "common/pulse_train.h"
#include "decode/decoder.h"
#include "tools/replay/durations.h"
#include "tools/replay/recordings.h"

namespace sfh56::test {

inline std::vector<replay::Recording> LoadSerialRemotes() {
  std::ifstream in(SFH_TEST_DATA_DIR "/serial_remotes.tsv");
  return replay::ReadRecordings(in);
}

// CommandOrder 0, BitMask 16, one decoder state across the presses. busy_polling cuts
// the trains by the end rules of busy mode (PriorityLevel 8 and ring-0 capture).
inline std::vector<std::string> OfflineSerialCodes(const std::vector<replay::Recording>& presses,
                                                   bool busy_polling = false) {
  std::vector<std::string> codes;
  DecoderState state;
  for (const auto& press : presses) {
    std::vector<double> us(press.durations_us.begin(), press.durations_us.end());
    for (const PulseTrain& train : ReplayedTrains(us, kReplayTicksPerSecond, 0, busy_polling)) {
      const DecodeResult result = Decoder::Decode(train, 16, state);
      if (result.deliver) codes.emplace_back(result.code);
    }
  }
  return codes;
}

}  // namespace sfh56::test
