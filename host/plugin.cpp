#include "host/plugin.h"

#include <algorithm>
#include <cstring>

#include "common/identity.h"
#include "host/text_copy.h"
#include "host/version_number.h"
#include "platform/ui.h"

namespace sfh56 {
namespace {

// The older set's identity exports take an 8-bit count.
int32_t OlderSetMax(int32_t max) {
  return max & 0xFF;
}

int32_t OlderBool(bool value) {
  return value ? kOlderTrue : kOlderFalse;
}

}  // namespace

Plugin::Plugin(platform::Platform& platform, ReceiverFactory receiver_factory)
    : platform_(platform), receiver_factory_(std::move(receiver_factory)) {}

Plugin::~Plugin() {
  plugin_open_ = false;
  receiver_.reset();
  retired_.clear();
}

void Plugin::OnLoad() {
  host_version_info_ = ReadVersionInfo(platform_.files, platform_.files.MainExecutablePath());

  platform::HostIpc& ipc = platform_.host_ipc;
  if (!ipc.OpenMapping(kHostFileMappingName) || !ipc.OpenSemaphore(kHostSemaphoreName)) {
    host_api_level_ = 0;
    return;
  }
  shared_code_view_ = ipc.MapView();
  shared_view_size_ = shared_code_view_ != nullptr ? ipc.ViewSize() : 0;
  if (shared_code_view_ == nullptr) {
    platform_.message_boxes.Show(TranslateText(kCannotMapSegmentText), kPluginName,
                                 platform::kMbOk);
  }
  host_api_level_ = 1;
}

void Plugin::OnUnload() {
  std::lock_guard lock(receivers_mutex_);
  if (plugin_open_) CleanUpDevice();
  ReapRetired();
  ReportHold();
  platform_.host_ipc.CloseHandles();
}

// --- Identity and comparison ------------------------------------------------------------

char* Plugin::GirVersion(char* buffer, int32_t max) {
  return CopyText(buffer, kPluginVersion, max);
}
char* Plugin::GirName(char* buffer, int32_t max) {
  return CopyText(buffer, kPluginName, max);
}
char* Plugin::GirDescription(char* buffer, int32_t max) {
  return CopyText(buffer, kPluginDescription, max);
}
char* Plugin::IdentifyDevice(char* buffer, int32_t max) {
  return CopyText(buffer, kPluginDescription, OlderSetMax(max));
}
char* Plugin::SupportDevice(char* buffer, int32_t max) {
  return CopyText(buffer, kPluginName, OlderSetMax(max));
}
char* Plugin::VersionDevice(char* buffer, int32_t max) {
  return CopyText(buffer, kPluginVersion, OlderSetMax(max));
}

int32_t Plugin::GirCompare(const char* a, const char* b) {
  return TextsEqual(a, b) ? 1 : 0;
}
int32_t Plugin::CompareStr(const char* a, const char* b) {
  return OlderBool(TextsEqual(a, b));
}

int32_t Plugin::GirDevicenum() {
  device_number_ = kNewerHostDeviceNumber;
  return kNewerHostDeviceNumber;
}
int32_t Plugin::GetDeviceNum() {
  return device_number_;
}

int32_t Plugin::GirRequestedApi(int32_t host_api) {
  return host_api >= 1 ? 1 : 0;
}

// --- Open and close ---------------------------------------------------------------------

void Plugin::CreateReceiver() {
  std::lock_guard lock(receivers_mutex_);
  // A second open without a close ends the earlier receiver as a close would: left
  // running, it would keep the port the new one opens, and nothing would ever end it.
  (void)RetireReceiver();
  ReapRetired();
  receiver_ = receiver_factory_(platform_, *this);
  plugin_open_ = true;
  ReportHold();
}

bool Plugin::CloseReceiver() {
  std::lock_guard lock(receivers_mutex_);
  if (!plugin_open_) return true;
  plugin_open_ = false;
  const bool ended = RetireReceiver();
  ReapRetired();
  ReportHold();
  return ended;
}

bool Plugin::RetireReceiver() {
  if (receiver_ == nullptr) return true;
  std::shared_ptr<ReceiverControl> receiver = std::move(receiver_);
  if (receiver->TerminateAndWait()) return true;  // ended: destroyed here (or by its last user)
  retired_.push_back(std::move(receiver));
  return false;
}

void Plugin::ReapRetired() {
  std::erase_if(retired_,
                [](const std::shared_ptr<ReceiverControl>& receiver) { return receiver->Ended(); });
}

std::shared_ptr<ReceiverControl> Plugin::CurrentReceiver() {
  if (!retired_.empty()) {
    ReapRetired();
    ReportHold();
  }
  return receiver_;
}

bool Plugin::ReceiverAlive() const {
  std::lock_guard lock(receivers_mutex_);
  return receiver_ != nullptr || !retired_.empty();
}

size_t Plugin::RetiredReceivers() const {
  std::lock_guard lock(receivers_mutex_);
  return retired_.size();
}

void Plugin::ReportHold() {
  const bool alive = ReceiverAlive();
  if (alive == held_) return;
  held_ = alive;
  if (receiver_hold_) receiver_hold_(alive);
}

int32_t Plugin::GirOpen(int32_t major, int32_t minor, int32_t third, const void* functions) {
  (void)third;
  if ((major >= 3 && minor >= 2) || major >= 4) {
    host_api_level_ = 3;
    settings_root_key_ = platform::RootKey::kLocalMachine;
    device_number_ = kNewerHostDeviceNumber;
  }
  int32_t result = 0;
  if (functions != nullptr) {
    std::lock_guard lock(tables_mutex_);
    std::memcpy(host_function_table_.data(), functions, sizeof host_function_table_);
    result = 1;
  }
  CreateReceiver();
  return result;
}

void Plugin::InitDevice(platform::WindowHandle window, HostTranslateFunction translate) {
  host_window_ = window;
  host_translate_ = translate;
  CreateReceiver();
}

int32_t Plugin::GirClose() {
  return CloseReceiver() ? 1 : 0;
}

void Plugin::CleanUpDevice() {
  (void)GirClose();
}

// --- Receiver control -------------------------------------------------------------------

// Start and stop requests that the host makes from inside the configuration dialog (its
// window procedure runs in the dialog's message loop) are not carried out: the cycle has
// stopped the capture to change its settings and restores it when the dialog closes.
// Other host threads wait for the lock until the cycle has ended.
int32_t Plugin::GirStart() {
  std::lock_guard lock(receivers_mutex_);
  if (in_cycle_) return 0;
  const std::shared_ptr<ReceiverControl> receiver = CurrentReceiver();
  return receiver != nullptr && receiver->Start() ? 1 : 0;
}
int32_t Plugin::GirStop() {
  std::lock_guard lock(receivers_mutex_);
  if (in_cycle_) return 0;
  const std::shared_ptr<ReceiverControl> receiver = CurrentReceiver();
  return receiver != nullptr && receiver->Stop() ? 1 : 0;
}
int32_t Plugin::StartDevice() {
  return GirStart() == 1 ? kOlderTrue : kOlderFalse;
}
int32_t Plugin::StopDevice() {
  return GirStop() == 1 ? kOlderTrue : kOlderFalse;
}
int32_t Plugin::FlushDevice() {
  return kOlderTrue;
}

void Plugin::GirConfig() {
  // One dialog at a time: a configure call while another is showing its dialog, from
  // that dialog's message loop or from another host thread, returns at once.
  if (configuring_.exchange(true)) return;
  struct Done {
    std::atomic<bool>& flag;
    ~Done() { flag.store(false); }
  } done{configuring_};

  std::lock_guard lock(receivers_mutex_);
  // Held for the whole cycle: a close that the host makes from the dialog's window ends
  // the receiver, but the cycle's own calls still find the object (and a thread that
  // has ended answers its restart at once).
  const std::shared_ptr<ReceiverControl> receiver = CurrentReceiver();
  if (receiver == nullptr || config_box_ == nullptr) return;
  in_cycle_ = true;
  struct Leave {
    bool& flag;
    ~Leave() { flag = false; }
  } leave{in_cycle_};
  (void)receiver->RunConfiguration(*config_box_);
}

int32_t Plugin::ConfigDevice() {
  GirConfig();
  return kOlderTrue;
}

int32_t Plugin::GirInfo(int32_t what, int32_t event, int32_t third) {
  (void)third;
  const bool resumed = what == kInfoPowerBroadcast &&
                       (event == kPowerResumeCritical || event == kPowerResumeSuspend);
  if (!resumed) return 1;
  std::lock_guard lock(receivers_mutex_);
  const std::shared_ptr<ReceiverControl> receiver = CurrentReceiver();
  if (receiver != nullptr && receiver->Running()) {
    receiver->Stop();
    receiver->Start();
  }
  return 1;
}

// --- Older host's support record and version ----------------------------------------------

int32_t Plugin::HSupportFunctions(const void* block) {
  if (block != nullptr) {
    uint32_t count = 0;
    std::memcpy(&count, block, sizeof count);
    {
      std::lock_guard lock(tables_mutex_);
      size_t bytes = std::min<size_t>(count, sizeof host_support_block_);
      // A record that ends inside the translation function's word is taken as ending
      // before it: part of a pointer would turn the earlier one into a pointer to nowhere.
      constexpr size_t kWordStart = kSupportTranslateWord * sizeof(uintptr_t);
      if (bytes > kWordStart && bytes < kWordStart + sizeof(uintptr_t)) bytes = kWordStart;
      std::memcpy(host_support_block_.data(), block, bytes);
    }
    switch (host_api_level_.load()) {
      case 0:
      case 1:
        settings_root_key_ = platform::RootKey::kCurrentUser;
        break;
      case 2:
        settings_root_key_ = platform::RootKey::kLocalMachine;
        if (const uint32_t id = platform_.host_ipc.RegisterWindowMessage(kHostMessageName)) {
          host_message_id_ = id;
        }
        break;
      default:
        break;
    }
  }
  return CheckHostVersion();
}

int Plugin::CheckHostVersion() {
  const int result = HostVersionResult(host_version_info_.FileVersion);
  if (result == 2) host_api_level_ = 2;
  return result;
}

// --- Host services ----------------------------------------------------------------------

DeliveryRoute Plugin::CurrentDeliveryRoute() {
  DeliveryRoute route;
  route.host_api_level = host_api_level_;
  route.device_number = device_number_;
  route.host_window = host_window_;
  route.host_message_id = host_message_id_;
  route.shared_code_view = shared_code_view_;
  route.shared_view_size = shared_view_size_;
  std::lock_guard lock(tables_mutex_);
  route.event_function = FunctionFromWord<EventFunction>(host_function_table_[kTableEventSlot]);
  return route;
}

TranslationRoute Plugin::CurrentTranslationRoute() {
  TranslationRoute route;
  route.host_api_level = host_api_level_;
  route.host_translate = host_translate_;
  std::lock_guard lock(tables_mutex_);
  route.support_translate =
      FunctionFromWord<SupportTranslateFunction>(host_support_block_[kSupportTranslateWord]);
  route.table_translate =
      FunctionFromWord<TableTranslateFunction>(host_function_table_[kTableTranslateSlot]);
  return route;
}

void Plugin::DeliverCode(const std::string& code) {
  sfh56::DeliverCode(CurrentDeliveryRoute(), code, platform_.host_ipc, platform_.scheduler);
}

std::string Plugin::TranslateText(const std::string& text) {
  // Each translation has its own buffer: the receiver thread and the host's thread both
  // translate, and a shared buffer would let one overwrite the other's result.
  TranslationBuffer buffer;
  return sfh56::TranslateText(CurrentTranslationRoute(), text, buffer);
}

}  // namespace sfh56
