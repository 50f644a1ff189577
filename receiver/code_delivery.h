#pragma once
// The last step of every admitted train: delivery of its code to the host with Delivering
// set around the call.

#include <atomic>
#include <string>
#include <string_view>

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
  CodeDelivery(HostServices& host, DeliveringFlag& delivering)
      : host_(host), delivering_(delivering) {}

  // Hands one code to the host, Delivering set for the duration of the call.
  void Deliver(const std::string& code);

 private:
  HostServices& host_;
  DeliveringFlag& delivering_;
};

}  // namespace sfh56
