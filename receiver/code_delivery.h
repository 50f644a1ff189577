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
#include "platform/sync.h"
#include "receiver/host_services.h"

namespace sfh56 {

// The receiver's Delivering flag, read by the host side of the handshake, and an event
// that is set while the flag is: a host thread waiting for the receiver waits on it too,
// so that its wait ends the moment a delivery begins (the delivery may need that very
// thread, as a message to the host's window does).
class DeliveringFlag {
 public:
  explicit DeliveringFlag(platform::Event* event = nullptr) : event_(event) {}
  DeliveringFlag(const DeliveringFlag&) = delete;
  DeliveringFlag& operator=(const DeliveringFlag&) = delete;
  void Begin() {
    flag_.store(true);
    if (event_ != nullptr) event_->Set();
  }
  void End() {
    if (event_ != nullptr) event_->Reset();
    flag_.store(false);
  }
  bool IsSet() const { return flag_.load(); }

 private:
  std::atomic<bool> flag_{false};
  platform::Event* event_;
};

class CodeDelivery {
 public:
  CodeDelivery(platform::Files& files, HostServices& host, DeliveringFlag& delivering)
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
  DeliveringFlag& delivering_;
  DecoderState decoder_;  // CodeBuffer and the decoder's work array
};

}  // namespace sfh56
