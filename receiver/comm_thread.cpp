#include "receiver/comm_thread.h"

#include "receiver/serial_capture.h"
#include "receiver/train_assembler.h"
#include "receiver/usb_capture.h"

namespace sfh56 {
namespace {

namespace prio = platform::priority;

constexpr int kThreadPriorityByLevel[kRealtimePriorityLevel] = {
    prio::kIdle,        prio::kLowest,  prio::kBelowNormal,  prio::kNormal,
    prio::kAboveNormal, prio::kHighest, prio::kTimeCritical,
};

}  // namespace

PriorityPlan PriorityPlanFor(uint8_t priority_level) {
  if (priority_level < kRealtimePriorityLevel) {
    return {kThreadPriorityByLevel[priority_level], false};
  }
  return {prio::kTimeCritical, true};
}

TCommThread::TCommThread(platform::Platform& platform, HostServices& host)
    : platform_(platform),
      host_(host),
      driver_(platform),
      ring0_capture_(platform, driver_),
      time_base_(platform.counters, platform.scheduler),
      delivery_(platform.files, host, delivering_),
      trains_(settings_, *this),
      serial_capture_(std::make_unique<SerialCaptureRun>(SerialCapturePlatform{
          platform.scheduler, platform.serial_ports, platform.message_boxes, &ring0_capture_})),
      usb_capture_(std::make_unique<UsbCaptureRun>(platform.modules, platform.message_boxes)) {
  thread_ = platform_.scheduler.CreateSuspendedThread([this] { Execute(); });
  time_base_.TscAvailable = time_base_.HasTimeStampCounter();
  delivering_.store(false);
  // The settings start with their own defaults (config) and the train empty.
  thread_->SetPriority(prio::kTimeCritical);
  driver_.OpenHardwareDriver();
  settings_.AllowRing0 = Ring0Possible();
  terminate_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/true, false);
  start_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/false, false);
  stop_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/false, false);
  ack_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/true, false);
  time_base_.TestCounterSpeed();
  Calibrate();
}

TCommThread::~TCommThread() {
  // The events and the driver outlive the thread here (unlike a plain close-then-wait): a
  // thread still waiting on them, or capturing through the driver, is asked to end and is
  // waited for first.
  if (!thread_->Suspended() && !thread_->Finished()) {
    terminate_event_->Set();
    thread_->Join();
  }
  driver_.CloseHardwareDriver();
  thread_.reset();
}

bool TCommThread::Ring0Possible() const {
  return (platform_.platform_id == platform::kPlatformWin32Windows || driver_.DriverActive()) &&
         time_base_.TscAvailable;
}

void TCommThread::LoadSettings() {
  ::sfh56::LoadSettings(settings_, platform_.registry, host_.SettingsRootKey(), Ring0Possible());
}

void TCommThread::SaveSettings() {
  ::sfh56::SaveSettings(settings_, platform_.registry, host_.SettingsRootKey());
}

void TCommThread::SetSerialCapture(std::unique_ptr<CaptureRun> capture) {
  serial_capture_ = std::move(capture);
}

void TCommThread::SetUsbCapture(std::unique_ptr<CaptureRun> capture) {
  usb_capture_ = std::move(capture);
}

// --- Host side ----------------------------------------------------------------------------

bool TCommThread::Start() {
  ack_event_->Reset();
  start_event_->Set();
  if (thread_->Suspended()) thread_->Resume();
  return WaitAck();
}

bool TCommThread::Stop() {
  ack_event_->Reset();
  stop_event_->Set();
  if (thread_->Suspended()) thread_->Resume();
  return !WaitAck();
}

bool TCommThread::WaitAck() {
  if (!delivering_.load()) {
    platform::Waitable* objects[] = {ack_event_.get()};
    platform_.scheduler.WaitAny(objects, kAckTimeoutMs);
  }
  ack_event_->Reset();
  return running_.load();
}

bool TCommThread::TerminateAndWait() {
  if (thread_->Suspended()) thread_->Resume();
  terminate_event_->Set();
  if (delivering_.load()) return false;
  platform::Waitable* objects[] = {thread_.get()};
  // Only a reported end of the thread lets the owner free the object; a wait that failed
  // proves nothing.
  return platform_.scheduler.WaitAny(objects, kTerminateTimeoutMs).Is(0);
}

// --- Receiver side ------------------------------------------------------------------------

Wake TCommThread::Wait(uint32_t timeout_ms, platform::Waitable* device) {
  return WaitForWake(platform_.scheduler, {*terminate_event_, *start_event_, *stop_event_}, device,
                     timeout_ms);
}

void TCommThread::Acknowledge(bool running) {
  running_.store(running);
  ack_event_->Set();
}

void TCommThread::DecodeAndDeliver(const PulseTrain& train) {
  delivery_.DecodeAndDeliver(train, settings_);
}

void TCommThread::Calibrate() {
  time_base_.Calibrate(settings_.AllowRing0);
  trains_.Train().TicksPerSecond = time_base_.TicksPerSecond;
}

void TCommThread::ApplyPriorityLevel() {
  const PriorityPlan plan = PriorityPlanFor(settings_.PriorityLevel);
  platform_.scheduler.SetCurrentThreadPriority(plan.ThreadPriority);
  if (plan.RealtimeClass) {
    saved_priority_class_ = platform_.scheduler.GetProcessPriorityClass();
    platform_.scheduler.SetProcessPriorityClass(prio::kRealtimeClass);
  }
}

CaptureRun& TCommThread::CaptureFor(const std::string& com_name) {
  // Exactly "USB": a port name in any other spelling is a serial port's name.
  return com_name == kUsbComName ? *usb_capture_ : *serial_capture_;
}

void TCommThread::Execute() {
  LoadSettings();
  running_.store(false);
  while (!Terminated()) {
    saved_priority_class_ = 0;
    // The idle wait: a start request leaves it (the capture run acknowledges), a stop
    // request is acknowledged here with Running false.
    bool start_taken = false;
    while (!start_taken && !Terminated()) {
      switch (Wait(platform::kWaitInfinite)) {
        case Wake::kStart:
          start_taken = true;
          break;
        case Wake::kStop:
          Acknowledge(false);
          break;
        case Wake::kAbandoned:
          platform_.scheduler.SleepMs(0);
          break;
        case Wake::kTerminate:
        default:
          // The terminate request; or requests can no longer be received: end rather
          // than spin.
          SetTerminated();
          break;
      }
    }
    if (Terminated()) break;
    ApplyPriorityLevel();
    keep_interrupts_on_ = settings_.PriorityLevel < kBusyPollingPriorityLevel;
    CaptureFor(settings_.ComName).Run(Seams());
    if (saved_priority_class_ != 0) {
      platform_.scheduler.SetProcessPriorityClass(saved_priority_class_);
    }
  }
}

}  // namespace sfh56
