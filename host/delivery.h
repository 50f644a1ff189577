#pragma once
// Handing a code to the host, and asking the host to translate a text, over the path of
// the host API level in use.

#include <array>
#include <cstdint>
#include <string>

#include "host/host_abi.h"
#include "platform/host_ipc.h"
#include "platform/sync.h"

namespace sfh56 {

// The semaphore guarding the shared view is waited for this long before a code is dropped.
inline constexpr uint32_t kSharedViewWaitMs = 50;

// What one delivery needs to know, read from the plugin's state at the moment of delivery.
struct DeliveryRoute {
  int32_t host_api_level = 0;
  int32_t device_number = 0;
  platform::WindowHandle host_window = 0;
  uint32_t host_message_id = 0;
  char* shared_code_view = nullptr;
  size_t shared_view_size = 0;
  EventFunction event_function = nullptr;
};

// Level 0: WM_COPYDATA with a private copy of the code and its zero. Levels 1 and 2: the
// code goes into the shared view under the host's semaphore, then the host's message is
// sent; a semaphore not acquired within kSharedViewWaitMs, or a missing view, drops the
// code. Level 3: the host's event function, then the calling thread gives way once at
// below-normal priority; a host without an event function gets nothing. The host's
// answers are not examined.
void DeliverCode(const DeliveryRoute& route, const std::string& code, platform::HostIpc& ipc,
                 platform::Scheduler& scheduler);

// The translation services the host offered.
struct TranslationRoute {
  int32_t host_api_level = 0;
  SupportTranslateFunction support_translate = nullptr;  // older host, support record
  HostTranslateFunction host_translate = nullptr;        // older host, init_device
  TableTranslateFunction table_translate = nullptr;      // newer host, function table
};

// The buffer the host writes a translation into; one extra byte keeps it terminated
// whatever the host writes.
using TranslationBuffer = std::array<char, kTranslationBufferChars + 1>;

// Returns the host's translation of text, or text itself when the host offers none or
// declines.
std::string TranslateText(const TranslationRoute& route, const std::string& text,
                          TranslationBuffer& buffer);

}  // namespace sfh56
