#pragma once
// TCommThread, the receiver thread object: the one thread that captures, decodes and
// delivers, and the handshake by which the host's threads start, stop and end it.
//
// Host side: Start, Stop, TerminateAndWait and Running. Each request resets AckEvent,
// signals its request event and waits for the acknowledgement of that request (20 s;
// 30 s for the end of the thread). The wait ends at once when the thread has ended, and
// whenever the receiver thread is delivering a code to the host, or begins to during the
// wait: a delivery blocked in a call into the host then cannot deadlock with the host
// thread that serves it. Of a start and a stop left pending that way, only the later is
// served: the host's last request is the one that holds, with no capture torn down and
// reopened (or opened and closed) for the one it cancelled.
//
// Receiver side: the thread body and the capture runs (receiver/capture_run.h), which
// see this object only through its seams (receiver/capture_seams.h): it is their
// control channel, their clock and the outlet of their train pipeline. Running is written only
// there; AckEvent is set only there.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/pulse_train.h"
#include "config/config_box.h"
#include "config/configuration_cycle.h"
#include "config/receiver_settings.h"
#include "decode/service_log.h"
#include "hwaccess/hardware_driver.h"
#include "platform/platform.h"
#include "receiver/capture_run.h"
#include "receiver/capture_seams.h"
#include "receiver/code_delivery.h"
#include "receiver/host_services.h"
#include "receiver/ring0_capture.h"
#include "receiver/time_base.h"

namespace sfh56 {

inline constexpr uint32_t kAckTimeoutMs = 20000;
inline constexpr uint32_t kTerminateTimeoutMs = 30000;
inline constexpr int kRealtimePriorityLevel = 7;  // this level and above: realtime class

// How a priority level is applied at the start of a capture run.
struct PriorityPlan {
  int ThreadPriority = platform::priority::kTimeCritical;
  bool RealtimeClass = false;  // save the process class, switch to realtime, restore after
};
PriorityPlan PriorityPlanFor(uint8_t priority_level);

class TCommThread final : public ControlChannel,
                          public CaptureClock,
                          public CodeOutlet,
                          public ConfigurableReceiver {
 public:
  // Creates the thread suspended, opens the hardware-access driver, tests the counters and
  // calibrates the time base. The thread first runs at the first Start, Stop or
  // TerminateAndWait.
  TCommThread(platform::Platform& platform, HostServices& host);
  // The owner destroys the object only after TerminateAndWait returned true. Should the
  // thread still run, it is asked to end and waited for without limit before the driver
  // it may be using is closed.
  ~TCommThread() override;
  TCommThread(const TCommThread&) = delete;
  TCommThread& operator=(const TCommThread&) = delete;

  // --- Host side ------------------------------------------------------------------------
  // True when capture runs after the acknowledgement (or after 20 s without one).
  bool Start() override;
  // True when capture no longer runs after the acknowledgement.
  bool Stop() override;
  // True when the thread has ended (within 30 s); false at once while Delivering or
  // when a delivery begins during the wait.
  bool TerminateAndWait();
  bool Running() const override { return running_.load(); }
  bool Delivering() const override { return delivering_.IsSet(); }
  // A start request not yet answered (left pending by a delivery, or being served).
  bool StartPending() const override {
    return start_request_.load() > acknowledged_request_.load();
  }
  // The thread has run and returned.
  bool Ended() const { return thread_->Finished(); }
  // (Windows 9x or DriverActive) and a time-stamp counter; evaluated afresh at each use.
  bool Ring0Possible() const override;
  // Written on the host's thread only while capture is stopped; read by a capture run
  // when it starts.
  ReceiverSettings& Settings() override { return settings_; }
  // The settings from the registry under the host's SettingsRootKey, and back.
  void LoadSettings() override;
  void SaveSettings() override;
  // The host's translation of a text the user will see.
  std::string TranslateText(const std::string& text) override { return host_.TranslateText(text); }
  void SleepMs(uint32_t ms) override;
  // The host's configure call, on the host's thread: stops a running capture, shows the
  // stored settings in this dialog, stores what the user confirms and restarts.
  ConfigurationOutcome RunConfiguration(ConfigBox& box);

  // The capture runs (defaults: SerialCaptureRun and UsbCaptureRun on this object's
  // platform). Set before the first Start.
  void SetSerialCapture(std::unique_ptr<CaptureRun> capture);
  void SetUsbCapture(std::unique_ptr<CaptureRun> capture);

  // --- The receiver's state, as tests and diagnostics see it ----------------------------
  platform::Event& TerminateEvent() { return *terminate_event_; }
  platform::Event& StartEvent() { return *start_event_; }
  platform::Event& StopEvent() { return *stop_event_; }
  bool Terminated() const override { return terminated_.load(); }
  PulseTrain& Train() { return trains_.Train(); }
  TimeBase& Time() { return time_base_; }
  // The hardware-access driver, opened by the constructor (ring-0 capture).
  HardwareDriver& Driver() { return driver_; }
  // PriorityLevel < 8 at the start of the current capture run (ring-0 capture).
  bool KeepInterruptsOn() const { return keep_interrupts_on_; }
  // CodeBuffer: the last decoded code, re-sent for a repeat frame.
  std::string_view LastCode() const { return trains_.LastCode(); }
  // Hands one code to the host with Delivering set, as the decoder's delivery does.
  void Deliver(const std::string& code) { delivery_.Deliver(code); }

 private:
  // --- The seams of the capture runs: this object is their control channel, their clock
  // and the outlet of their trains, reached only through those interfaces -----------------
  CaptureSeams Seams() { return {*this, *this, settings_, trains_, host_}; }

  Wake Wait(uint32_t timeout_ms, platform::Waitable* device = nullptr) override;
  // Receiver thread only: Running := running, the request being served is answered, then
  // AckEvent set.
  void Acknowledge(bool running) override;
  void SetTerminated() override { terminated_.store(true); }
  int64_t ReadTimestamp() override { return time_base_.ReadTimestamp(settings_.AllowRing0); }
  // Calibrates for the counter AllowRing0 selects; the train takes the new frequency.
  void Calibrate() override;
  TimeBaseThresholds Thresholds() const override { return time_base_.Thresholds(); }
  bool Open() const override { return host_.PluginOpen(); }
  void Deliver(std::string_view code, const DecodedTrain& decoded) override;

  void Execute();
  void ApplyPriorityLevel();
  CaptureRun& CaptureFor(const ReceiverSettings& settings);
  // Host side: numbers and signals one request, then waits for its acknowledgement (or
  // a delivery, or the thread's end); returns Running.
  bool Request(platform::Event& event, std::atomic<uint64_t>& number);
  bool WaitAck(uint64_t request);
  // Receiver side: a start and a stop request may both be pending (the host did not
  // wait for the first, held by a delivery). Only the later one is served, and its
  // acknowledgement answers both: a stop followed by a start leaves a running capture
  // running (the port is not closed and opened again, so no press is lost in between),
  // a start followed by a stop opens nothing.
  Wake NetRequest(Wake taken);

  platform::Platform& platform_;
  HostServices& host_;
  HardwareDriver driver_;
  Ring0Capture ring0_capture_;
  ReceiverSettings settings_;
  TimeBase time_base_;
  std::unique_ptr<platform::Event> delivering_event_;  // set while Delivering
  DeliveringFlag delivering_;
  std::atomic<bool> running_{false};
  std::atomic<bool> terminated_{false};
  CodeDelivery delivery_;
  ServiceLogWriter service_log_;
  TrainPipeline trains_;
  bool keep_interrupts_on_ = true;
  uint32_t saved_priority_class_ = 0;
  // The capture runs, indexed by CaptureSource.
  std::array<std::unique_ptr<CaptureRun>, kCaptureSourceCount> captures_;
  std::unique_ptr<platform::Event> terminate_event_;
  std::unique_ptr<platform::Event> start_event_;
  std::unique_ptr<platform::Event> stop_event_;
  std::unique_ptr<platform::Event> ack_event_;
  // Requests are numbered in the order the host makes them. Each kind keeps the number of
  // its latest request; the receiver answers one request at a time (served) and says which
  // one each acknowledgement answers (acknowledged).
  std::atomic<uint64_t> last_request_{0};
  std::atomic<uint64_t> start_request_{0};
  std::atomic<uint64_t> stop_request_{0};
  std::atomic<uint64_t> served_request_{0};
  std::atomic<uint64_t> acknowledged_request_{0};
  // Declared last, so destroyed first: the thread ends before the events go.
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace sfh56
