#include "receiver/comm_thread.h"

#include "receiver/serial_capture.h"

#include <optional>

#include "decode/service_log.h"
#include "hwaccess/hardware_driver.h"
#include "receiver/usb_capture.h"

namespace sfh56 {
namespace {

namespace prio = platform::priority;

constexpr int kThreadPriorityByLevel[kRealtimePriorityLevel] = {
    prio::kIdle,        prio::kLowest,  prio::kBelowNormal,  prio::kNormal,
    prio::kAboveNormal, prio::kHighest, prio::kTimeCritical,
};

// Keeps Delivering set for the duration of one call into the host.
class DeliveringScope {
 public:
  explicit DeliveringScope(std::atomic<bool>& flag) : flag_(flag) { flag_.store(true); }
  ~DeliveringScope() { flag_.store(false); }
  DeliveringScope(const DeliveringScope&) = delete;
  DeliveringScope& operator=(const DeliveringScope&) = delete;

 private:
  std::atomic<bool>& flag_;
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
      time_base_(platform.counters, platform.scheduler),
      serial_capture_(std::make_unique<SerialCaptureRun>()),
      usb_capture_(std::make_unique<UsbCaptureRun>()) {
  thread_ = platform_.scheduler.CreateSuspendedThread([this] { Execute(); });
  time_base_.TscAvailable = time_base_.HasTimeStampCounter();
  delivering_.store(false);
  settings_.PriorityLevel = kRealtimePriorityLevel;
  thread_->SetPriority(prio::kTimeCritical);
  train_.LastEdgeIndex = -1;
  settings_.ComName = "COM1";
  settings_.InputSignal = 1;
  settings_.CommandOrder = 0;
  settings_.BitMask = 16;
  settings_.ServiceMode = false;
  OpenHardwareDriver(platform_);
  settings_.AllowRing0 = Ring0Possible();
  terminate_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/true, false);
  start_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/false, false);
  stop_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/false, false);
  ack_event_ = platform_.scheduler.CreateEvent(/*manual_reset=*/true, false);
  time_base_.TestCounterSpeed();
  Calibrate();
}

TCommThread::~TCommThread() {
  CloseHardwareDriver();
  // The events outlive the thread here (unlike a plain close-then-wait): a thread still
  // waiting on them is asked to end through them and is waited for first.
  if (!thread_->Suspended() && !thread_->Finished()) {
    terminate_event_->Set();
    thread_->Join();
  }
  thread_.reset();
}

bool TCommThread::Ring0Possible() const {
  return (platform_.platform_id == platform::kPlatformWin32Windows || DriverActive()) &&
         time_base_.TscAvailable;
}

void TCommThread::LoadSettings() {
  ::sfh56::LoadSettings(settings_, platform_.registry, host_.SettingsRootKey(), Ring0Possible());
}

void TCommThread::SaveSettings() {
  ::sfh56::SaveSettings(settings_, platform_.registry, host_.SettingsRootKey());
}

void TCommThread::SleepMs(uint32_t ms) {
  platform_.scheduler.SleepMs(ms);
}

ConfigurationOutcome TCommThread::RunConfiguration(ConfigBox& box) {
  return sfh56::RunConfiguration(*this, box);
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
    // After a close (a configuration cycle's restart may come then) the thread is gone
    // and no acknowledgement will come.
    platform::Waitable* objects[] = {ack_event_.get(), thread_.get()};
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

std::array<platform::Waitable*, 3> TCommThread::ControlWaitables() {
  return {terminate_event_.get(), start_event_.get(), stop_event_.get()};
}

void TCommThread::Acknowledge(bool running) {
  running_.store(running);
  ack_event_->Set();
}

ControlAnswer TCommThread::AnswerControlRequest(int index) {
  switch (index) {
    case kTerminateIndex:
      SetTerminated();
      return ControlAnswer::kEndRun;
    case kStartIndex:
      Acknowledge(true);
      return ControlAnswer::kContinue;
    case kStopIndex:
      Acknowledge(false);
      return ControlAnswer::kEndRun;
    default:
      return ControlAnswer::kNotAControl;
  }
}

void TCommThread::Deliver(const std::string& code) {
  DeliveringScope scope(delivering_);
  host_.DeliverCode(code);
}

namespace {

// Delivers each decoded code through the receiver, with Delivering set around the call.
class ReceiverCodeSink : public CodeSink {
 public:
  explicit ReceiverCodeSink(TCommThread& receiver) : receiver_(receiver) {}
  void Deliver(std::string_view code) override { receiver_.Deliver(std::string(code)); }

 private:
  TCommThread& receiver_;
};

}  // namespace

void TCommThread::DecodePulseTrain() {
  std::optional<ServiceLogWriter> log;
  if (settings_.ServiceMode) log.emplace(platform_.files);
  ReceiverCodeSink sink(*this);
  Decoder::Decode(train_, settings_.BitMask, decoder_, log ? &*log : nullptr, &sink);
}

void TCommThread::Calibrate() {
  time_base_.Calibrate(settings_.AllowRing0);
  train_.TicksPerSecond = time_base_.TicksPerSecond;
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
  return com_name == "USB" ? *usb_capture_ : *serial_capture_;
}

void TCommThread::Execute() {
  LoadSettings();
  first_wait_ms_ = kFirstWaitMs;
  next_wait_ms_ = kNextWaitMs;
  running_.store(false);
  const auto control = ControlWaitables();
  while (!Terminated()) {
    saved_priority_class_ = 0;
    bool start_taken = false;
    while (!start_taken && !Terminated()) {
      const platform::WaitResult result =
          platform_.scheduler.WaitAny(control, platform::kWaitInfinite);
      if (result.kind == platform::WaitResult::kAbandoned) {
        platform_.scheduler.SleepMs(0);
      } else if (result.kind != platform::WaitResult::kSignaled) {
        // Requests can no longer be received: end rather than spin.
        SetTerminated();
      } else if (result.index == kTerminateIndex) {
        SetTerminated();
      } else if (result.index == kStartIndex) {
        start_taken = true;
      } else if (result.index == kStopIndex) {
        Acknowledge(false);
      }
    }
    if (Terminated()) break;
    ApplyPriorityLevel();
    keep_interrupts_on_ = settings_.PriorityLevel < kBusyPollingPriorityLevel;
    CaptureFor(settings_.ComName).Run(*this);
    if (saved_priority_class_ != 0) {
      platform_.scheduler.SetProcessPriorityClass(saved_priority_class_);
    }
  }
}

}  // namespace sfh56
