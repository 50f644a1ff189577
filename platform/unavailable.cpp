#include "platform/unavailable.h"

namespace sfh56::platform {

bool UnavailableHostIpc::OpenMapping(const std::string&) {
  return false;
}
bool UnavailableHostIpc::OpenSemaphore(const std::string&) {
  return false;
}
char* UnavailableHostIpc::MapView() {
  return nullptr;
}
size_t UnavailableHostIpc::ViewSize() {
  return 0;
}
void UnavailableHostIpc::CloseHandles() {}
bool UnavailableHostIpc::WaitSemaphore(uint32_t) {
  return false;
}
intptr_t UnavailableHostIpc::SendMessage(WindowHandle, uint32_t, uintptr_t, intptr_t) {
  return 0;
}
void UnavailableHostIpc::SendCopyData(WindowHandle, uintptr_t, uintptr_t, const void*, uint32_t) {}
uint32_t UnavailableHostIpc::RegisterWindowMessage(const std::string&) {
  return 0;
}

}  // namespace sfh56::platform
