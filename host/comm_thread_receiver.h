#pragma once
// The receiver subsystem's thread object as the plugin's receiver object.

#include "host/receiver_control.h"
#include "receiver/comm_thread.h"

namespace sfh56 {

class CommThreadReceiver final : public ReceiverControl {
 public:
  CommThreadReceiver(platform::Platform& platform, HostServices& host) : thread_(platform, host) {}

  bool Start() override { return thread_.Start(); }
  bool Stop() override { return thread_.Stop(); }
  bool TerminateAndWait() override { return thread_.TerminateAndWait(); }
  bool Running() const override { return thread_.Running(); }
  bool Ended() const override { return thread_.Ended(); }
  ConfigurationOutcome RunConfiguration(ConfigBox& box) override {
    return thread_.RunConfiguration(box);
  }

  TCommThread& Thread() { return thread_; }

 private:
  TCommThread thread_;
};

// Creates a CommThreadReceiver: the plugin's receiver object in the product.
ReceiverFactory CommThreadReceiverFactory();

}  // namespace sfh56
