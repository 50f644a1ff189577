#pragma once
// TCommThread, the receiver thread object: the one thread that captures, decodes and
// delivers, and the handshake by which the host's threads start, stop and end it.
//
// Host side: Start, Stop, TerminateAndWait and Running. Each request resets AckEvent,
// signals its request event and waits for the acknowledgement (20 s; 30 s for the end of
// the thread), except while the receiver thread is delivering a code to the host: then
// the host's thread does not wait, so a delivery blocked in a call into the host cannot
// deadlock with the host thread that serves it.
//
// Receiver side: the thread body and the capture runs (receiver/capture_run.h). Running
// is written only there; AckEvent is set only there.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "config/config_box.h"
#include "config/configuration_cycle.h"
#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "platform/platform.h"
#include "receiver/capture_run.h"
#include "receiver/host_services.h"
#include "receiver/pulse_train.h"
#include "receiver/time_base.h"

namespace sfh56 {

inline constexpr uint32_t kAckTimeoutMs = 20000;
inline constexpr uint32_t kTerminateTimeoutMs = 30000;
inline constexpr int kFirstWaitMs = 30;           // end of a train while it has fewer than 10 edges
inline constexpr int kNextWaitMs = 13;            // end of a train once it has 10 or more
inline constexpr int kRealtimePriorityLevel = 7;  // this level and above: realtime class
inline constexpr int kBusyPollingPriorityLevel = 8;
inline constexpr int kCodeBufferSize = 252;

// Wait indices of the control events in every wait of the receiver thread.
inline constexpr int kTerminateIndex = 0;
inline constexpr int kStartIndex = 1;
inline constexpr int kStopIndex = 2;
inline constexpr int kFirstCaptureIndex = 3;  // a capture's own objects start here

// How a priority level is applied at the start of a capture run.
struct PriorityPlan {
  int ThreadPriority = platform::priority::kTimeCritical;
  bool RealtimeClass = false;  // save the process class, switch to realtime, restore after
};
PriorityPlan PriorityPlanFor(uint8_t priority_level);

enum class ControlAnswer {
  kContinue,     // a start request: acknowledged, capture goes on
  kEndRun,       // a stop request (acknowledged) or the terminate request
  kNotAControl,  // the index is not one of the control events
};

class TCommThread final : public ConfigurableReceiver {
 public:
  // Creates the thread suspended, tests the counters and calibrates the time base, opens
  // the hardware-access driver. The thread first runs at the first Start, Stop or
  // TerminateAndWait.
  TCommThread(platform::Platform& platform, HostServices& host);
  // The owner destroys the object only after TerminateAndWait returned true. Should the
  // thread still run, it is asked to end and waited for without limit.
  ~TCommThread() override;
  TCommThread(const TCommThread&) = delete;
  TCommThread& operator=(const TCommThread&) = delete;

  // --- Host side ------------------------------------------------------------------------
  // True when capture runs after the acknowledgement (or after 20 s without one).
  bool Start() override;
  // True when capture no longer runs after the acknowledgement.
  bool Stop() override;
  // Waits up to 20 s for AckEvent unless Delivering, resets it, returns Running. A
  // thread that has ended acknowledges nothing more: the wait ends with it.
  bool WaitAck();
  // True when the thread has ended (within 30 s); false at once while Delivering.
  bool TerminateAndWait();
  bool Running() const override { return running_.load(); }
  bool Delivering() const override { return delivering_.load(); }
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

  // The capture runs (defaults: NoDeviceCaptureRun for serial, UsbCaptureRun for USB).
  // Set before the first Start.
  void SetSerialCapture(std::unique_ptr<CaptureRun> capture);
  void SetUsbCapture(std::unique_ptr<CaptureRun> capture);

  // --- Receiver side (capture runs, decoder, delivery) ----------------------------------
  platform::Platform& Platform() { return platform_; }
  HostServices& Host() { return host_; }
  platform::Event& TerminateEvent() { return *terminate_event_; }
  platform::Event& StartEvent() { return *start_event_; }
  platform::Event& StopEvent() { return *stop_event_; }
  platform::Event& AckEvent() { return *ack_event_; }
  // TerminateEvent, StartEvent, StopEvent at kTerminateIndex, kStartIndex, kStopIndex.
  std::array<platform::Waitable*, 3> ControlWaitables();
  // Receiver thread only: Running := running, then set AckEvent.
  void Acknowledge(bool running);
  // Receiver thread only.
  void SetRunning(bool running) { running_.store(running); }
  // The common answer to a request reported by a wait at index (see ControlAnswer).
  ControlAnswer AnswerControlRequest(int index);
  bool Terminated() const { return terminated_.load(); }
  void SetTerminated() { terminated_.store(true); }
  // Hands a code to the host with Delivering set around the call.
  void Deliver(const std::string& code);

  PulseTrain& Train() { return train_; }
  TimeBase& Time() { return time_base_; }
  int64_t ReadTimestamp() { return time_base_.ReadTimestamp(settings_.AllowRing0); }
  void Calibrate();
  // PriorityLevel < 8 at the start of the current capture run (ring-0 capture).
  bool KeepInterruptsOn() const { return keep_interrupts_on_; }
  int FirstWaitMs() const { return first_wait_ms_; }
  int NextWaitMs() const { return next_wait_ms_; }
  uint32_t SavedPriorityClass() const { return saved_priority_class_; }

  // The serial port's resources found by the port lookup (ring-0 capture).
  int32_t PortBase = 0;
  int32_t PortIrq = 0;
  int32_t PortDma = 0;
  // The decoder's state: the last decoded code, zero-terminated, re-sent for a repeat.
  // Decodes the current train, which the sequence rule admitted, hands its code to the
  // host and, in service mode, writes it to the service log. Every capture path ends an
  // admitted train here, so CodeBuffer (the last code, re-sent for a repeat frame) is one
  // for the whole receiver, whichever path captured the train.
  void DecodePulseTrain();
  std::string_view LastCode() const { return decoder_.Code(); }

 private:
  void Execute();
  void ApplyPriorityLevel();
  CaptureRun& CaptureFor(const std::string& com_name);

  platform::Platform& platform_;
  HostServices& host_;
  ReceiverSettings settings_;
  TimeBase time_base_;
  PulseTrain train_;
  DecoderState decoder_;  // CodeBuffer and the decoder's work array
  std::atomic<bool> delivering_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> terminated_{false};
  bool keep_interrupts_on_ = true;
  int first_wait_ms_ = 0;
  int next_wait_ms_ = 0;
  uint32_t saved_priority_class_ = 0;
  std::unique_ptr<CaptureRun> serial_capture_;
  std::unique_ptr<CaptureRun> usb_capture_;
  std::unique_ptr<platform::Event> terminate_event_;
  std::unique_ptr<platform::Event> start_event_;
  std::unique_ptr<platform::Event> stop_event_;
  std::unique_ptr<platform::Event> ack_event_;
  // Declared last, so destroyed first: the thread ends before the events go.
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace sfh56
