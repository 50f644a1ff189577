#pragma once
// What the plugin's entry points need of the receiver object: the handshake operations,
// the Running flag and the configuration cycle. The receiver subsystem's thread object is adapted
// to it; tests give their own.

#include <functional>
#include <memory>

#include "config/config_box.h"
#include "config/configuration_cycle.h"
#include "platform/platform.h"
#include "receiver/host_services.h"

namespace sfh56 {

class ReceiverControl {
 public:
  virtual ~ReceiverControl() = default;
  // Each returns the running state after the receiver's acknowledgement.
  virtual bool Start() = 0;
  // True when capture is no longer running.
  virtual bool Stop() = 0;
  // True when the thread has ended; only then may the object be destroyed.
  virtual bool TerminateAndWait() = 0;
  virtual bool Running() const = 0;
  // The thread has ended (asked without waiting).
  virtual bool Ended() const = 0;
  // The configuration cycle with this dialog, on the calling host thread.
  virtual ConfigurationOutcome RunConfiguration(ConfigBox& box) = 0;
};

// Creates the receiver object, suspended.
using ReceiverFactory =
    std::function<std::unique_ptr<ReceiverControl>(platform::Platform&, HostServices&)>;

}  // namespace sfh56
