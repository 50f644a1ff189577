#pragma once
// The whole simulated platform: one virtual clock and the simulated implementation of
// every platform interface, with platform() as the aggregate the plugin takes.
// Interfaces whose simulation is not part of this build yet answer like a machine
// without the resource: serial ports that never open, no host objects, no
// libraries.

#include "platform/platform.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_counters.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_scheduler.h"
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
  platform::UnavailableSerialPorts serial_ports;
  platform::UnavailableHostIpc host_ipc;
  SimFiles files;
  platform::UnavailableModules modules;

 private:
  platform::Platform platform_;
};

}  // namespace sfh56::sim
