// The entry points of both host generations. Each one only translates its arguments,
// calls the plugin and returns the host's value; no exception reaches the host, and a
// call that fails that way, or comes when no plugin is loaded, gets the same answer as
// one the plugin could not carry out.

#include <cstdint>

#include "host/host_abi.h"
#include "host/plugin.h"
#include "host/win32/loaded_plugin.h"

namespace {

using sfh56::Plugin;

template <typename Result, typename Call>
Result Guarded(Result failure, Call call) noexcept {
  try {
    Plugin* plugin = sfh56::dll::LoadedPlugin();
    if (plugin == nullptr) return failure;
    return call(*plugin);
  } catch (...) {
    return failure;
  }
}

template <typename Call>
void GuardedVoid(Call call) noexcept {
  try {
    if (Plugin* plugin = sfh56::dll::LoadedPlugin()) call(*plugin);
  } catch (...) {
  }
}

}  // namespace

// --- Newer entry set ----------------------------------------------------------------------

extern "C" {

char* SFH_HOST_CALL gir_version(char* buffer, int32_t max) noexcept {
  return Guarded(buffer, [&](Plugin& p) { return p.GirVersion(buffer, max); });
}
char* SFH_HOST_CALL gir_name(char* buffer, int32_t max) noexcept {
  return Guarded(buffer, [&](Plugin& p) { return p.GirName(buffer, max); });
}
char* SFH_HOST_CALL gir_description(char* buffer, int32_t max) noexcept {
  return Guarded(buffer, [&](Plugin& p) { return p.GirDescription(buffer, max); });
}
int32_t SFH_HOST_CALL gir_devicenum() noexcept {
  return Guarded(sfh56::kNewerHostDeviceNumber, [](Plugin& p) { return p.GirDevicenum(); });
}
int32_t SFH_HOST_CALL gir_requested_api(int32_t host_api) noexcept {
  return Guarded(0, [&](Plugin& p) { return p.GirRequestedApi(host_api); });
}
int32_t SFH_HOST_CALL gir_open(int32_t major, int32_t minor, int32_t third,
                               void* functions) noexcept {
  return Guarded(0, [&](Plugin& p) { return p.GirOpen(major, minor, third, functions); });
}
int32_t SFH_HOST_CALL gir_close() noexcept {
  return Guarded(0, [](Plugin& p) { return p.GirClose(); });
}
void SFH_HOST_CALL gir_config() noexcept {
  GuardedVoid([](Plugin& p) { p.GirConfig(); });
}
int32_t SFH_HOST_CALL gir_start() noexcept {
  return Guarded(0, [](Plugin& p) { return p.GirStart(); });
}
int32_t SFH_HOST_CALL gir_stop() noexcept {
  return Guarded(0, [](Plugin& p) { return p.GirStop(); });
}
int32_t SFH_HOST_CALL gir_compare(const char* a, const char* b) noexcept {
  return Guarded(0, [&](Plugin& p) { return p.GirCompare(a, b); });
}
int32_t SFH_HOST_CALL gir_info(int32_t what, int32_t event, int32_t third) noexcept {
  return Guarded(1, [&](Plugin& p) { return p.GirInfo(what, event, third); });
}

// --- Older entry set ----------------------------------------------------------------------

int32_t SFH_HOST_CALL h_support_functions(void* block) noexcept {
  return Guarded(1, [&](Plugin& p) { return p.HSupportFunctions(block); });
}
void SFH_HOST_CALL init_device(void* window, sfh56::HostTranslateFunction translate) noexcept {
  GuardedVoid([&](Plugin& p) {
    p.InitDevice(reinterpret_cast<sfh56::platform::WindowHandle>(window), translate);
  });
}
void SFH_HOST_CALL clean_up_device() noexcept {
  GuardedVoid([](Plugin& p) { p.CleanUpDevice(); });
}
int32_t SFH_HOST_CALL start_device() noexcept {
  return Guarded(sfh56::kOlderFalse, [](Plugin& p) { return p.StartDevice(); });
}
int32_t SFH_HOST_CALL stop_device() noexcept {
  return Guarded(sfh56::kOlderFalse, [](Plugin& p) { return p.StopDevice(); });
}
int32_t SFH_HOST_CALL flush_device() noexcept {
  return Guarded(sfh56::kOlderTrue, [](Plugin& p) { return p.FlushDevice(); });
}
int32_t SFH_HOST_CALL config_device() noexcept {
  return Guarded(sfh56::kOlderTrue, [](Plugin& p) { return p.ConfigDevice(); });
}
int32_t SFH_HOST_CALL compare_str(const char* a, const char* b) noexcept {
  return Guarded(sfh56::kOlderFalse, [&](Plugin& p) { return p.CompareStr(a, b); });
}
char* SFH_HOST_CALL identify_device(char* buffer, int32_t max) noexcept {
  return Guarded(buffer, [&](Plugin& p) { return p.IdentifyDevice(buffer, max); });
}
char* SFH_HOST_CALL support_device(char* buffer, int32_t max) noexcept {
  return Guarded(buffer, [&](Plugin& p) { return p.SupportDevice(buffer, max); });
}
char* SFH_HOST_CALL version_device(char* buffer, int32_t max) noexcept {
  return Guarded(buffer, [&](Plugin& p) { return p.VersionDevice(buffer, max); });
}
int32_t SFH_HOST_CALL get_device_num() noexcept {
  return Guarded(sfh56::kLoadDeviceNumber, [](Plugin& p) { return p.GetDeviceNum(); });
}

}  // extern "C"
