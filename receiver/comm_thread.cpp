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
      delivering_event_(platform.scheduler.CreateEvent(/*manual_reset=*/true, false)),
      delivering_(delivering_event_.get()),
      delivery_(host, delivering_),
      service_log_(platform.files),
      trains_(settings_, *this, &service_log_),
      captures_{
          std::make_unique<SerialCaptureRun>(SerialCapturePlatform{
              platform.scheduler, platform.serial_ports, platform.message_boxes, &ring0_capture_}),
          std::make_unique<UsbCaptureRun>(platform.modules, platform.message_boxes)} {
  thread_ = platform_.scheduler.CreateSuspendedThread([this] { Execute(); });
  time_base_.TscAvailable = time_base_.HasTimeStampCounter();
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

void TCommThread::SleepMs(uint32_t ms) {
  platform_.scheduler.SleepMs(ms);
}

ConfigurationOutcome TCommThread::RunConfiguration(ConfigBox& box) {
  return sfh56::RunConfiguration(*this, box);
}

void TCommThread::SetSerialCapture(std::unique_ptr<CaptureRun> capture) {
  captures_[static_cast<size_t>(CaptureSource::kSerial)] = std::move(capture);
}

void TCommThread::SetUsbCapture(std::unique_ptr<CaptureRun> capture) {
  captures_[static_cast<size_t>(CaptureSource::kUsb)] = std::move(capture);
}

// --- Host side ----------------------------------------------------------------------------

bool TCommThread::Start() {
  return Request(*start_event_, start_request_);
}

bool TCommThread::Stop() {
  return !Request(*stop_event_, stop_request_);
}

bool TCommThread::Request(platform::Event& event, std::atomic<uint64_t>& number) {
  ack_event_->Reset();
  const uint64_t request = ++last_request_;
  number.store(request);
  event.Set();
  if (thread_->Suspended()) thread_->Resume();
  return WaitAck(request);
}

bool TCommThread::WaitAck(uint64_t request) {
  platform::Waitable* objects[] = {ack_event_.get(), delivering_event_.get(), thread_.get()};
  // An acknowledgement of an earlier request (served after a delivery held it) does not
  // answer this one: wait on. Each such answer is progress, and there are few.
  while (acknowledged_request_.load() < request && !delivering_.IsSet() && !thread_->Finished()) {
    if (!platform_.scheduler.WaitAny(objects, kAckTimeoutMs).Is(0)) break;
    ack_event_->Reset();
  }
  ack_event_->Reset();
  return running_.load();
}

bool TCommThread::TerminateAndWait() {
  if (thread_->Suspended()) thread_->Resume();
  terminate_event_->Set();
  if (delivering_.IsSet()) return false;
  // A delivery that begins meanwhile (the receiver finishing a train) may need this very
  // thread: the wait ends then, as it does not begin during one. Only a reported end of
  // the thread lets the owner free the object; a wait that failed proves nothing.
  platform::Waitable* objects[] = {thread_.get(), delivering_event_.get()};
  return platform_.scheduler.WaitAny(objects, kTerminateTimeoutMs).Is(0);
}

// --- Receiver side ------------------------------------------------------------------------

Wake TCommThread::Wait(uint32_t timeout_ms, platform::Waitable* device) {
  const Wake wake = WaitForWake(
      platform_.scheduler, {*terminate_event_, *start_event_, *stop_event_}, device, timeout_ms);
  return wake == Wake::kStart || wake == Wake::kStop ? NetRequest(wake) : wake;
}

Wake TCommThread::NetRequest(Wake taken) {
  const bool start = taken == Wake::kStart;
  platform::Event& other = start ? *stop_event_ : *start_event_;
  const uint64_t taken_number = (start ? start_request_ : stop_request_).load();
  platform::Waitable* objects[] = {&other};
  // Taking the other event's signal takes its request too: the later of the two holds.
  if (platform_.scheduler.WaitAny(objects, 0).Is(0)) {
    const uint64_t other_number = (start ? stop_request_ : start_request_).load();
    if (other_number > taken_number) {
      served_request_.store(other_number);
      return start ? Wake::kStop : Wake::kStart;
    }
  }
  served_request_.store(taken_number);
  return taken;
}

void TCommThread::Acknowledge(bool running) {
  // Running first: who sees the request answered (StartPending false) sees its state.
  running_.store(running);
  acknowledged_request_.store(served_request_.load());
  ack_event_->Set();
}

void TCommThread::Deliver(std::string_view code, const DecodedTrain& /*decoded*/) {
  delivery_.Deliver(std::string(code));
}

void TCommThread::Calibrate() {
  time_base_.Calibrate(settings_.AllowRing0);
  trains_.SetTicksPerSecond(time_base_.TicksPerSecond);
}

void TCommThread::ApplyPriorityLevel() {
  const PriorityPlan plan = PriorityPlanFor(settings_.PriorityLevel);
  platform_.scheduler.SetCurrentThreadPriority(plan.ThreadPriority);
  if (plan.RealtimeClass) {
    saved_priority_class_ = platform_.scheduler.GetProcessPriorityClass();
    platform_.scheduler.SetProcessPriorityClass(prio::kRealtimeClass);
  }
}

CaptureRun& TCommThread::CaptureFor(const ReceiverSettings& settings) {
  return *captures_[static_cast<size_t>(CaptureSourceFor(settings))];
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
    CaptureFor(settings_).Run(Seams());
    if (saved_priority_class_ != 0) {
      platform_.scheduler.SetProcessPriorityClass(saved_priority_class_);
    }
  }
  // Nothing captures once the thread has ended; requests made after this get that answer
  // without waiting.
  running_.store(false);
}

}  // namespace sfh56
