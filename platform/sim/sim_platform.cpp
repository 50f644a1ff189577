#include "platform/sim/sim_platform.h"

namespace sfh56::sim {

std::unique_ptr<platform::SerialPort> NoSerialPorts::Open(const std::string&) {
  return nullptr;
}

bool NoHostIpc::OpenMapping(const std::string&) {
  return false;
}
bool NoHostIpc::OpenSemaphore(const std::string&) {
  return false;
}
char* NoHostIpc::MapView() {
  return nullptr;
}
size_t NoHostIpc::ViewSize() {
  return 0;
}
void NoHostIpc::CloseHandles() {}
bool NoHostIpc::WaitSemaphore(uint32_t) {
  return false;
}
intptr_t NoHostIpc::SendMessage(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
  return 0;
}
void NoHostIpc::SendCopyData(platform::WindowHandle, uintptr_t, uintptr_t, const void*, uint32_t) {}
uint32_t NoHostIpc::RegisterWindowMessage(const std::string&) {
  return 0;
}

std::string NoFiles::MainExecutablePath() {
  return {};
}
std::unique_ptr<platform::AppendFile> NoFiles::OpenForAppend(const std::string&) {
  return nullptr;
}
std::unique_ptr<platform::AppendFile> NoFiles::Create(const std::string&) {
  return nullptr;
}
std::unique_ptr<platform::VersionBlock> NoFiles::LoadVersionBlock(const std::string&) {
  return nullptr;
}

std::unique_ptr<platform::Module> NoModules::Load(const std::string&) {
  return nullptr;
}

SimPlatform::SimPlatform()
    : platform_{counters, scheduler,     serial_ports,
                registry, message_boxes, host_ipc,
                files,    modules,       platform::kPlatformWin32Nt} {}

}  // namespace sfh56::sim
