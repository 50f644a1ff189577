#pragma once
// The last step of every admitted train: decoding, the service log in service mode, and
// delivery of the code to the host with Delivering set around the call. One per receiver:
// its decoder state holds CodeBuffer, the last code, re-sent for a repeat frame whichever
// path captured the train.

#include <atomic>
#include <string>
#include <string_view>

#include "common/pulse_train.h"
#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "platform/files.h"
#include "receiver/host_services.h"

namespace sfh56 {

class CodeDelivery {
 public:
  // delivering is the receiver's Delivering flag, read by the host side of the handshake.
  CodeDelivery(platform::Files& files, HostServices& host, std::atomic<bool>& delivering)
      : files_(files), host_(host), delivering_(delivering) {}

  // Decodes train with the setting BitMask; with ServiceMode writes the log record
  // around the delivery; hands the code, if the decoder gives one, to the host.
  void DecodeAndDeliver(const PulseTrain& train, const ReceiverSettings& settings);
  // Hands one code to the host, Delivering set for the duration of the call.
  void Deliver(const std::string& code);
  std::string_view LastCode() const { return decoder_.Code(); }

 private:
  platform::Files& files_;
  HostServices& host_;
  std::atomic<bool>& delivering_;
  DecoderState decoder_;  // CodeBuffer and the decoder's work array
};

}  // namespace sfh56
