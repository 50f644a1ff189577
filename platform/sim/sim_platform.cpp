#include "platform/sim/sim_platform.h"

namespace sfh56::sim {

SimPlatform::SimPlatform()
    : platform_{counters, scheduler, serial_ports, registry, message_boxes,
                host_ipc, files,     modules,      ring0,    platform::kPlatformWin32Nt} {}

}  // namespace sfh56::sim
