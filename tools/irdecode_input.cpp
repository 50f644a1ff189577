#include "tools/irdecode_input.h"

#include "tools/replay/durations.h"

namespace sfh56::tools {

std::vector<PulseTrain> RecordingTrains(const Recording& recording) {
  return ReplayedTrains(recording.durations_us, kReplayTicksPerSecond);
}

std::vector<TrainCode> DecodeRecording(const Recording& recording, int32_t bit_mask,
                                       DecoderState& state, ServiceLogSink* log,
                                       Decoding decoding) {
  std::vector<TrainCode> codes;
  for (const PulseTrain& train : RecordingTrains(recording)) {
    const DecodeResult result = DecodeWith(decoding, train, bit_mask, state, log);
    codes.push_back(result.deliver ? TrainCode(std::string(result.code)) : std::nullopt);
  }
  return codes;
}

std::string JoinCodes(const std::vector<TrainCode>& codes) {
  std::string out;
  for (const TrainCode& code : codes) {
    if (!out.empty()) out.push_back(' ');
    out += !code.has_value() ? "-" : code->empty() ? "\"\"" : *code;
  }
  return out;
}

}  // namespace sfh56::tools
