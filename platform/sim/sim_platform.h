#pragma once
// The whole simulated platform: one virtual clock and the simulated implementation of
// every platform interface, with platform() as the aggregate the plugin takes.
// Serial ports exist only where a test adds them; the older host's named objects are
// absent unless a test plays the host's side with a platform of its own.

#include "platform/platform.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_counters.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_modules.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_ring0.h"
#include "platform/sim/sim_scheduler.h"
#include "platform/sim/sim_serial_port.h"
#include "platform/unavailable.h"

namespace sfh56::sim {

class SimPlatform {
 public:
  SimPlatform();
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  platform::Platform& platform() { return platform_; }

  SimClock clock;
  SimScheduler scheduler{clock};
  SimCounters counters{clock};
  SimMessageBoxes message_boxes;
  SimRegistry registry;
  SimSerialPorts serial_ports{clock};
  platform::UnavailableHostIpc host_ipc;
  SimFiles files;
  SimModules modules;
  SimRing0 ring0{clock, counters, serial_ports};

 private:
  platform::Platform platform_;
};

}  // namespace sfh56::sim
