#include "receiver/serial_capture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string_view>

namespace sfh56 {

namespace {

constexpr std::array<InputLine, 3> kInputLines{{
    {platform::kEvCts, platform::kMsCtsOn},
    {platform::kEvDsr, platform::kMsDsrOn},
    {platform::kEvRlsd, platform::kMsRlsdOn},
}};
constexpr uint8_t kInputDcd = 2;

// A train in waiting mode also ends when no edge has been recorded for this long even
// though comm events keep coming (glitches shorter than a status read): the end test
// alone would then never fire.
constexpr double kMaxEventsWithoutEdgeSeconds = 0.1;

int64_t SecondsToTicks(double ticks_per_second, double seconds) {
  return static_cast<int64_t>(std::nearbyint(ticks_per_second * seconds));
}

class Capture {
 public:
  Capture(const CaptureSeams& seams, const SerialCapturePlatform& platform,
          SerialCaptureState& state)
      : control_(seams.control),
        clock_(seams.clock),
        settings_(seams.settings),
        trains_(seams.trains),
        texts_(seams.texts),
        platform_(platform),
        state_(state) {}

  void Run() {
    std::unique_ptr<platform::SerialPort> port;
    if (!settings_.ComName.empty() && settings_.ComName.size() <= kMaxPortNameChars) {
      port = platform_.ports.Open(settings_.ComName);
    }
    if (!port) {
      platform_.message_boxes.Show(texts_.TranslateText(kUnableToOpenPortText), settings_.ComName,
                                   platform::kMbIconError | platform::kMbTopmost);
      control_.Acknowledge(false);
      return;
    }
    port_ = port.get();

    Arm();
    CheckReceiver();

    control_.Acknowledge(true);

    platform_.scheduler.SleepMs(kArmDelayMs);
    port_->StartEventWait();
    trains_.StartCapture(CapturePath::kSerial);

    MainLoop();
    port_ = nullptr;
    // The port and its event are closed here.
  }

 private:
  void Arm() {
    port_->SetupQueues(kPortQueueBytes, kPortQueueBytes);
    platform::DeviceControlBlock dcb;
    if (port_->GetState(dcb)) {
      // Flow control, DTR and RTS control and every other flag off; the line
      // parameters stay as they are.
      dcb.flags = 0;
      port_->SetState(dcb);
    }
    port_->Escape(platform::EscapeFunction::kSetRts);
    port_->Escape(platform::EscapeFunction::kSetDtr);
    const InputLine line = InputLineFor(settings_.InputSignal);
    // Ring-0 capture reads the UART's registers: without the port's I/O address capture
    // goes on with the serial functions, and the time base follows at calibration.
    if (settings_.AllowRing0 &&
        (platform_.ring0 == nullptr ||
         !platform_.ring0->StartRun(settings_.ComName, line.status_bit, settings_.PriorityLevel))) {
      settings_.AllowRing0 = false;
    }
    state_.SignalMask = line.status_bit;
    port_->SetEventMask(line.event_mask);
    port_->CreateEventWait();
  }

  // Waits up to three seconds for the receiver's idle (set) level; on failure the user
  // may retry after a new calibration or go on regardless. Leaves the line's last status
  // (masked) as the previous status of the first train.
  void CheckReceiver() {
    uint32_t status = 0;
    for (;;) {
      clock_.Calibrate();
      const int64_t deadline =
          clock_.ReadTimestamp() +
          SecondsToTicks(clock_.Thresholds().TicksPerSecond, kReceiverCheckSeconds);
      bool expired = false;
      for (;;) {
        const int64_t now = clock_.ReadTimestamp();
        expired = now > deadline;
        status = 0;
        port_->GetModemStatus(status);
        if ((status & state_.SignalMask) != 0 || expired) break;
        if (settings_.InputSignal == kInputDcd) break;
      }
      if (!expired) break;
      const int answer = platform_.message_boxes.Show(
          texts_.TranslateText(kReceiverWarningText), kPluginName,
          platform::kMbRetryCancel | platform::kMbIconQuestion | platform::kMbTopmost);
      if (answer != platform::kIdRetry) break;
    }
    trains_.Line().SetPrevStatus(status & state_.SignalMask);
  }

  void MainLoop() {
    while (!control_.Terminated()) {
      port_->StartEventWait();
      const Wake wake = control_.Wait(platform::kWaitInfinite, &port_->EventWaitObject());
      switch (AnswerRequest(control_, wake)) {
        case RequestAnswer::kEndRun:
          return;
        case RequestAnswer::kGoOn:
          continue;
        case RequestAnswer::kNotARequest:
          break;
      }
      if (wake == Wake::kDevice) {
        if (CaptureTrain() == TrainAction::kEndThread) control_.SetTerminated();
        if (read_failed_) {
          platform_.scheduler.SleepMs(kFailedPortBackoffMs);
        }
        Drain();
      } else if (wake == Wake::kAbandoned) {
        platform_.scheduler.SleepMs(0);  // yield
      } else {
        // A wait that cannot be made would spin here: give the thread up instead.
        control_.SetTerminated();
      }
    }
  }

  // Captures one train into the pipeline, which counts it, decodes it when admitted and
  // delivers its code. read_failed_: the port could not be read at all (nothing was
  // counted).
  TrainAction CaptureTrain() {
    read_failed_ = false;
    const TimeBaseThresholds time = clock_.Thresholds();
    trains_.SetTicksPerSecond(time.TicksPerSecond);
    if (settings_.AllowRing0) {
      platform_.ring0->CaptureTrain(trains_.Train(), trains_.Line(), trains_.Sequence(),
                                    time.TicksPerSecond);
      return trains_.FinishTrain();
    }
    const int64_t train_start = clock_.ReadTimestamp();
    trains_.BeginTrain(train_start, time.SequenceGapTicks);
    const TrainAssembler& assembler = trains_.Assembly();

    const bool busy = settings_.PriorityLevel >= kBusyPollingPriorityLevel;
    const TrainLimits limits{time.TrainStartWindowTicks, time.EdgeGapTicks};
    const int64_t stuck_ticks = SecondsToTicks(time.TicksPerSecond, kMaxEventsWithoutEdgeSeconds);
    platform::Waitable* event[] = {&port_->EventWaitObject()};

    bool read_failed = false;
    bool ended = false;
    do {
      uint32_t status = 0;
      const bool read = port_->GetModemStatus(status);
      const int64_t sample_time = clock_.ReadTimestamp();
      if (!read) {
        read_failed = true;
        break;
      }
      trains_.PushEdge(status & state_.SignalMask, sample_time);
      port_->StartEventWait();
      if (busy) {
        ended = assembler.EndsAt(sample_time, limits);
      } else {
        const auto result = platform_.scheduler.WaitAny(event, assembler.QuietLimitMs());
        ended = result.kind == platform::WaitResult::kTimeout ||
                sample_time - assembler.LastEdgeTicks() > stuck_ticks;
      }
    } while (!ended && !assembler.Full());

    if (read_failed && assembler.Count() == 0) {
      read_failed_ = true;
      return TrainAction::kDiscard;
    }
    return trains_.EndTrain();
  }

  // The drain on the port's comm-event wait; gives up after kDrainLimitSeconds so that
  // requests are still served when the line never settles.
  class DrainedPort {
   public:
    explicit DrainedPort(Capture& capture)
        : capture_(capture),
          start_(capture.clock_.ReadTimestamp()),
          limit_ticks_(
              SecondsToTicks(capture.clock_.Thresholds().TicksPerSecond, kDrainLimitSeconds)) {}
    bool ChangePending() { return capture_.port_->EventWaitCompleted(); }
    void Rearm() { capture_.port_->StartEventWait(); }
    bool DrainTooLong() { return capture_.clock_.ReadTimestamp() - start_ > limit_ticks_; }
    void WaitQuietStep() { capture_.platform_.scheduler.SleepMs(kDrainQuietMs); }

   private:
    Capture& capture_;
    int64_t start_;
    int64_t limit_ticks_;
  };

  void Drain() {
    DrainedPort line(*this);
    DrainLine(line, kDrainMaxChecks);
  }

  ControlChannel& control_;
  CaptureClock& clock_;
  ReceiverSettings& settings_;
  TrainPipeline& trains_;
  Translator& texts_;
  const SerialCapturePlatform& platform_;
  SerialCaptureState& state_;
  platform::SerialPort* port_ = nullptr;
  bool read_failed_ = false;
};

}  // namespace

void SerialCaptureRun::Run(const CaptureSeams& seams) {
  RunSerialCapture(seams, platform_, state_);
}

InputLine InputLineFor(uint8_t input_signal) {
  return input_signal < kInputLines.size() ? kInputLines[input_signal] : kInputLines[1];
}

void RunSerialCapture(const CaptureSeams& seams, const SerialCapturePlatform& platform,
                      SerialCaptureState& state) {
  Capture(seams, platform, state).Run();
}

}  // namespace sfh56
