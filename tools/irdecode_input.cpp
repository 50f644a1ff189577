#include "tools/irdecode_input.h"

#include "tools/replay/durations.h"

namespace sfh56::tools {

std::vector<PulseTrain> RecordingTrains(const Recording& recording) {
  return ReplayedTrains(recording.durations_us, kReplayTicksPerSecond);
}

namespace {

ReceiverSettings DecodingSettings(int32_t bit_mask, bool logging, Decoding decoding) {
  ReceiverSettings settings;
  settings.StableCodes = decoding == Decoding::kStable;
  settings.CommandOrder = 0;
  settings.BitMask = bit_mask;
  settings.ServiceMode = logging;
  return settings;
}

}  // namespace

TrainDecoder::TrainDecoder(int32_t bit_mask, ServiceLogSink* log, Decoding decoding)
    : settings_(DecodingSettings(bit_mask, log != nullptr, decoding)),
      pipeline_(settings_, *this, log) {}

std::vector<TrainCode> TrainDecoder::DecodeRecording(const Recording& recording) {
  codes_.clear();
  if (!PlayDurations(pipeline_, recording.durations_us, kReplayTicksPerSecond)) return {};
  return std::move(codes_);
}

TrainCode TrainDecoder::DecodeTrain(const PulseTrain& train, bool* shift_coded) {
  codes_.clear();
  shift_coded_ = false;
  pipeline_.Train() = train;
  pipeline_.FinishTrain();
  if (shift_coded != nullptr) *shift_coded = shift_coded_;
  return codes_.empty() ? std::nullopt : codes_.front();
}

void TrainDecoder::TrainCaptured(const PulseTrain& /*train*/) {
  codes_.emplace_back(std::nullopt);
}

void TrainDecoder::Deliver(std::string_view code, const DecodedTrain& decoded) {
  codes_.back() = std::string(code);
  shift_coded_ = decoded.shift_coded;
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
