#pragma once
// The plugin-wide state and one operation per exported entry point of both host
// generations. Results are the values the host sees: 1/0 in the newer entry set, -1/0 in
// the older one. The DLL's export shims only translate arguments and call these.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/delivery.h"
#include "host/host_abi.h"
#include "host/receiver_control.h"
#include "host/version_info.h"
#include "platform/platform.h"
#include "receiver/host_services.h"

namespace sfh56 {

inline constexpr int32_t kLoadDeviceNumber = 7;
inline constexpr int32_t kNewerHostDeviceNumber = 207;
inline constexpr uint32_t kDefaultHostMessageId = 2054;
inline constexpr char kHostFileMappingName[] = "GirderFileMap6111976";
inline constexpr char kHostSemaphoreName[] = "GirderSemaphore6111976";
inline constexpr char kHostMessageName[] = "9FC3EB47-4ED7-41f2-BDE7-955D1BB05D8E";
inline constexpr char kCannotMapSegmentText[] = "Cannot map segment";

// Results of the older entry set.
inline constexpr int32_t kOlderTrue = -1;
inline constexpr int32_t kOlderFalse = 0;

// gir_info: the power-broadcast events after which capture is reopened.
inline constexpr int32_t kInfoPowerBroadcast = 2;
inline constexpr int32_t kPowerResumeCritical = 6;
inline constexpr int32_t kPowerResumeSuspend = 7;

class Plugin final : public HostServices {
 public:
  Plugin(platform::Platform& platform, ReceiverFactory receiver_factory);
  // Every receiver object's thread calls into this object and the platform, so each one
  // is ended and destroyed first, however long its delivery to the host still takes.
  ~Plugin() override;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Library load: reads the host executable's version texts, opens the host's named
  // mapping and semaphore (level 1 when both open, else 0) and maps the shared view.
  void OnLoad();
  // Library unload: closes an open plugin, then the host's named objects.
  void OnUnload();

  // Newer entry set.
  char* GirVersion(char* buffer, int32_t max);
  char* GirName(char* buffer, int32_t max);
  char* GirDescription(char* buffer, int32_t max);
  int32_t GirDevicenum();
  int32_t GirRequestedApi(int32_t host_api);
  int32_t GirOpen(int32_t major, int32_t minor, int32_t third, const void* functions);
  int32_t GirClose();
  void GirConfig();
  int32_t GirStart();
  int32_t GirStop();
  int32_t GirCompare(const char* a, const char* b);
  int32_t GirInfo(int32_t what, int32_t event, int32_t third);

  // Older entry set.
  int32_t HSupportFunctions(const void* block);
  void InitDevice(platform::WindowHandle window, HostTranslateFunction translate);
  void CleanUpDevice();
  int32_t StartDevice();
  int32_t StopDevice();
  int32_t FlushDevice();
  int32_t ConfigDevice();
  int32_t CompareStr(const char* a, const char* b);
  char* IdentifyDevice(char* buffer, int32_t max);
  char* SupportDevice(char* buffer, int32_t max);
  char* VersionDevice(char* buffer, int32_t max);
  int32_t GetDeviceNum();

  // 2 after setting HostApiLevel to 2 when the host's FileVersion is at least 3.1, else 1.
  int CheckHostVersion();

  // The dialog the configure entry points show (the library's own window; tests give a
  // scripted one). Without one they do nothing.
  void SetConfigBox(std::unique_ptr<ConfigBox> box) { config_box_ = std::move(box); }
  // A configure call is showing its dialog.
  bool Configuring() const { return configuring_.load(); }

  // HostServices, used by the receiver thread.
  bool PluginOpen() const override { return plugin_open_.load(); }
  void DeliverCode(const std::string& code) override;
  std::string TranslateText(const std::string& text) override;
  platform::RootKey SettingsRootKey() const override { return settings_root_key_.load(); }

  int32_t HostApiLevel() const { return host_api_level_.load(); }
  int32_t DeviceNumber() const { return device_number_.load(); }
  uint32_t HostMessageId() const { return host_message_id_.load(); }
  platform::WindowHandle HostWindow() const { return host_window_.load(); }
  const TVersionInfo& HostVersionInfo() const { return host_version_info_; }
  // A receiver object exists: the open plugin's, or one let go of whose thread has not
  // been seen to end yet.
  bool ReceiverAlive() const;
  // Receivers let go of (by a close or a second open) whose threads had not ended then.
  size_t RetiredReceivers() const;
  // Told whenever ReceiverAlive() changes: a receiver's thread runs the library's code,
  // so the library must stay loaded while any receiver exists.
  void SetReceiverHold(std::function<void(bool)> hold) { receiver_hold_ = std::move(hold); }

 private:
  void CreateReceiver();
  // Terminates the receiver; true when it ended and was destroyed.
  bool CloseReceiver();
  // Lets go of the open plugin's receiver: ends its thread and destroys it, or, when the
  // thread could not be ended now, keeps it among the retired ones. True when it ended.
  bool RetireReceiver();
  // Destroys the retired receivers whose threads have ended since; never waits.
  void ReapRetired();
  // The open plugin's receiver, or null, after reaping the retired ones. The caller holds
  // receivers_mutex_.
  std::shared_ptr<ReceiverControl> CurrentReceiver();
  void ReportHold();
  DeliveryRoute CurrentDeliveryRoute();
  TranslationRoute CurrentTranslationRoute();

  platform::Platform& platform_;
  ReceiverFactory receiver_factory_;
  std::unique_ptr<ConfigBox> config_box_;
  // Set for the whole of a configure call: one dialog at a time.
  std::atomic<bool> configuring_{false};

  // Written on the host's threads, read by the receiver thread.
  std::atomic<int32_t> device_number_{kLoadDeviceNumber};
  std::atomic<int32_t> host_api_level_{0};
  std::atomic<platform::RootKey> settings_root_key_{platform::RootKey::kCurrentUser};
  std::atomic<uint32_t> host_message_id_{kDefaultHostMessageId};
  std::atomic<platform::WindowHandle> host_window_{0};
  std::atomic<HostTranslateFunction> host_translate_{nullptr};
  std::atomic<bool> plugin_open_{false};

  // Copies of the host's records; the lock covers copying words, never a call to the host.
  std::mutex tables_mutex_;
  std::array<uintptr_t, kSupportBlockWords> host_support_block_{};
  std::array<uintptr_t, kFunctionTableSlots> host_function_table_{};

  // Set at load, before any entry point runs.
  char* shared_code_view_ = nullptr;
  size_t shared_view_size_ = 0;
  TVersionInfo host_version_info_;

  // Host calls that act on the receivers hold this lock for their whole length: no call
  // then finds a receiver that another host thread is destroying, and two threads'
  // requests never meet in one handshake. None of them waits for a delivery while
  // holding it (the handshake's waits end as soon as a delivery begins), so a host
  // thread that a delivery needs is kept waiting here only briefly. It is recursive: a
  // host may call in again from its own window procedure while a call of the same thread
  // shows a window (the configuration cycle's dialog).
  mutable std::recursive_mutex receivers_mutex_;
  // The open plugin's receiver object. Shared only with a configuration cycle in
  // progress, which keeps it through a close that the host makes from the cycle's dialog.
  std::shared_ptr<ReceiverControl> receiver_;
  // Receivers let go of while their threads were still delivering a code to the host (or
  // did not end in time): their terminate request stands, so each ends once its delivery
  // returns, and is destroyed at the next receiver call that finds it ended.
  std::vector<std::shared_ptr<ReceiverControl>> retired_;
  // A configuration cycle runs on the thread that holds receivers_mutex_.
  bool in_cycle_ = false;
  std::function<void(bool)> receiver_hold_;
  bool held_ = false;
};

}  // namespace sfh56
