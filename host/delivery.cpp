#include "host/delivery.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sfh56 {
namespace {

// The payload text handed with every level-3 event.
constexpr char kEmptyPayload[] = "";

void DeliverToSharedView(const DeliveryRoute& route, const std::string& code,
                         platform::HostIpc& ipc) {
  // Without a view there is nowhere to put the code. The semaphore is not taken then: the
  // host releases it only after reading a code, so taking it would block later codes.
  if (route.shared_code_view == nullptr || route.shared_view_size == 0) return;
  if (!ipc.WaitSemaphore(kSharedViewWaitMs)) return;
  const size_t length = std::min(code.size(), route.shared_view_size - 1);
  std::memcpy(route.shared_code_view, code.data(), length);
  route.shared_code_view[length] = '\0';
  ipc.SendMessage(route.host_window, route.host_message_id,
                  static_cast<uintptr_t>(route.device_number), 0);
}

void DeliverToEventFunction(const DeliveryRoute& route, const std::string& code,
                            platform::Scheduler& scheduler) {
  if (route.event_function == nullptr) return;
  route.event_function(code.c_str(), kEmptyPayload, 0, route.device_number);
  // The receiver thread may run at time-critical priority; let the host's threads have
  // the processor once before it goes on.
  const int priority = scheduler.GetCurrentThreadPriority();
  scheduler.SetCurrentThreadPriority(platform::priority::kBelowNormal);
  scheduler.SleepMs(0);
  scheduler.SetCurrentThreadPriority(priority);
}

}  // namespace

void DeliverCode(const DeliveryRoute& route, const std::string& code, platform::HostIpc& ipc,
                 platform::Scheduler& scheduler) {
  switch (route.host_api_level) {
    case 0: {
      const std::vector<char> copy(code.c_str(), code.c_str() + code.size() + 1);
      ipc.SendCopyData(route.host_window, static_cast<uintptr_t>(route.device_number), 0,
                       copy.data(), static_cast<uint32_t>(copy.size()));
      break;
    }
    case 1:
    case 2:
      DeliverToSharedView(route, code, ipc);
      break;
    case 3:
      DeliverToEventFunction(route, code, scheduler);
      break;
    default:
      break;
  }
}

std::string TranslateText(const TranslationRoute& route, const std::string& text,
                          TranslationBuffer& buffer) {
  // A fresh, terminated buffer each time: a host that writes nothing, or no terminator,
  // yields at most kTranslationBufferChars characters and never an earlier translation.
  buffer.fill('\0');
  switch (route.host_api_level) {
    case 0:
    case 1:
    case 2: {
      if (route.support_translate != nullptr &&
          (route.support_translate(text.c_str(), buffer.data(), kTranslationBufferChars) & 0xFFu) !=
              0) {
        buffer.back() = '\0';
        return buffer.data();
      }
      if (route.host_translate == nullptr) return text;
      const char* shown = route.host_translate(text.c_str());
      return shown != nullptr ? std::string(shown) : text;
    }
    case 3:
      if (route.table_translate != nullptr &&
          route.table_translate(text.c_str(), buffer.data(), kTranslationBufferChars) == 1) {
        buffer.back() = '\0';
        return buffer.data();
      }
      return text;
    default:
      return text;
  }
}

}  // namespace sfh56
