#pragma once
// Decoding of what the input readers (tools/ir_input.h) return, shared by the tool and
// the recorded-signal tests: recordings are split into the trains the serial capture
// would record, captured trains are decoded as they are, both through the receiver's
// train pipeline.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/pulse_train.h"
#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "decode/stable_decoder.h"
#include "receiver/train_pipeline.h"
#include "tools/ir_input.h"

namespace sfh56::tools {

// The result of decoding one train: nullopt when nothing was delivered.
using TrainCode = std::optional<std::string>;

// The trains the serial capture would record from a recording (1 MHz ticks).
std::vector<PulseTrain> RecordingTrains(const Recording& recording);

// Trains decoded as the receiver decodes them, with the decoding chosen (as by the
// StableCodes setting), every train admitted (CommandOrder 0), the service log written to
// log when given. The last code carries over from train to train
// (and recording to recording) for repeat frames, as CodeBuffer does in the receiver.
class TrainDecoder : private CodeOutlet {
 public:
  explicit TrainDecoder(int32_t bit_mask, ServiceLogSink* log = nullptr,
                        Decoding decoding = Decoding::kClassic);

  // The code of each train the serial capture would record from the recording, which
  // starts as a fresh press after the receiver started. Nothing for invalid durations.
  std::vector<TrainCode> DecodeRecording(const Recording& recording);
  // A captured train as it is; shift_coded tells whether it was decoded as bi-phase.
  TrainCode DecodeTrain(const PulseTrain& train, bool* shift_coded = nullptr);

 private:
  void TrainCaptured(const PulseTrain& train) override;
  void Deliver(std::string_view code, const DecodedTrain& decoded) override;

  ReceiverSettings settings_;
  TrainPipeline pipeline_;
  std::vector<TrainCode> codes_;
  bool shift_coded_ = false;
};

// Codes joined by spaces: "-" for nothing delivered, "\"\"" for the empty code.
std::string JoinCodes(const std::vector<TrainCode>& codes);

}  // namespace sfh56::tools
