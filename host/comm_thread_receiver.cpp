#include "host/comm_thread_receiver.h"

namespace sfh56 {

ReceiverFactory CommThreadReceiverFactory() {
  return [](platform::Platform& platform, HostServices& host) -> std::unique_ptr<ReceiverControl> {
    return std::make_unique<CommThreadReceiver>(platform, host);
  };
}

}  // namespace sfh56
