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
  Capture(SerialCaptureReceiver& receiver, const SerialCapturePlatform& platform,
          SerialCaptureState& state)
      : receiver_(receiver), platform_(platform), state_(state) {}

  void Run() {
    ReceiverSettings& settings = receiver_.Settings();
    std::unique_ptr<platform::SerialPort> port;
    if (!settings.ComName.empty() && settings.ComName.size() <= kMaxPortNameChars) {
      port = platform_.ports.Open(settings.ComName);
    }
    if (!port) {
      platform_.message_boxes.Show(receiver_.TranslateText(kUnableToOpenPortText), settings.ComName,
                                   platform::kMbIconError | platform::kMbTopmost);
      receiver_.SetRunningAndAcknowledge(false);
      return;
    }
    port_ = port.get();

    Arm(settings);
    CheckReceiver(settings);

    state_.PrevStatus &= state_.SignalMask;
    receiver_.SetRunningAndAcknowledge(true);

    platform_.scheduler.SleepMs(kArmDelayMs);
    port_->StartEventWait();
    state_.Sequence.StartCapture(CapturePath::kSerial);

    MainLoop(settings);
    port_ = nullptr;
    // The port and its event are closed here.
  }

 private:
  void Arm(ReceiverSettings& settings) {
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
    // Ring-0 capture needs the port's I/O address, which this build cannot look up:
    // capture goes on with the serial functions.
    settings.AllowRing0 = false;
    const InputLine line = InputLineFor(settings.InputSignal);
    state_.SignalMask = line.status_bit;
    port_->SetEventMask(line.event_mask);
    port_->CreateEventWait();
  }

  // Waits up to three seconds for the receiver's idle (set) level; on failure the user
  // may retry after a new calibration or go on regardless.
  void CheckReceiver(const ReceiverSettings& settings) {
    for (;;) {
      receiver_.Calibrate();
      const int64_t deadline = receiver_.ReadTimestamp() +
                               SecondsToTicks(receiver_.TicksPerSecond(), kReceiverCheckSeconds);
      bool expired = false;
      for (;;) {
        const int64_t now = receiver_.ReadTimestamp();
        expired = now > deadline;
        uint32_t status = 0;
        port_->GetModemStatus(status);
        state_.PrevStatus = status;
        if ((status & state_.SignalMask) != 0 || expired) break;
        if (settings.InputSignal == kInputDcd) break;
      }
      if (!expired) return;
      const int answer = platform_.message_boxes.Show(
          receiver_.TranslateText(kReceiverWarningText), kPluginName,
          platform::kMbRetryCancel | platform::kMbIconQuestion | platform::kMbTopmost);
      if (answer != platform::kIdRetry) return;
    }
  }

  void MainLoop(const ReceiverSettings& settings) {
    platform::Waitable* objects[] = {&receiver_.TerminateEvent(), &receiver_.StartEvent(),
                                     &receiver_.StopEvent(), &port_->EventWaitObject()};
    while (!receiver_.Terminated()) {
      port_->StartEventWait();
      const platform::WaitResult result =
          platform_.scheduler.WaitAny(objects, platform::kWaitInfinite);
      if (result.Is(0)) {
        receiver_.SetTerminated();
      } else if (result.Is(1)) {
        receiver_.SetRunningAndAcknowledge(true);
      } else if (result.Is(2)) {
        receiver_.SetRunningAndAcknowledge(false);
        return;
      } else if (result.Is(3)) {
        if (CaptureTrain(settings)) {
          receiver_.OnTrainCaptured();
          ApplySequenceRule(settings);
        } else {
          platform_.scheduler.SleepMs(kFailedPortBackoffMs);
        }
        Drain();
      } else if (result.kind == platform::WaitResult::kAbandoned) {
        platform_.scheduler.SleepMs(0);  // yield
      } else {
        // A wait that cannot be made would spin here: give the thread up instead.
        receiver_.SetTerminated();
      }
    }
  }

  // Captures one train into the receiver's PulseTrain. False when the port could not
  // be read at all (nothing to count).
  bool CaptureTrain(const ReceiverSettings& settings) {
    PulseTrain& train = receiver_.Train();
    const int64_t train_start = receiver_.ReadTimestamp();
    SequenceRule& sequence = state_.Sequence;
    sequence.StartTrain(train_start, receiver_.SequenceGapTicks());

    const bool busy = settings.PriorityLevel >= kBusyPollingPriorityLevel;
    const int64_t window_ticks = receiver_.TrainStartWindowTicks();
    const int64_t gap_ticks = receiver_.EdgeGapTicks();
    const int64_t stuck_ticks =
        SecondsToTicks(receiver_.TicksPerSecond(), kMaxEventsWithoutEdgeSeconds);
    platform::Waitable* event[] = {&port_->EventWaitObject()};

    int n = 0;
    bool read_failed = false;
    bool ended = false;
    do {
      uint32_t status = 0;
      const bool read = port_->GetModemStatus(status);
      const int64_t sample_time = receiver_.ReadTimestamp();
      if (!read) {
        read_failed = true;
        break;
      }
      const uint32_t current = status & state_.SignalMask;
      if (current != state_.PrevStatus) {
        train.Edges[n] = {current, sample_time};
        state_.PrevStatus = current;
        sequence.EdgeRecorded(sample_time);
        ++n;
      }
      port_->StartEventWait();
      if (busy) {
        ended = n < kLongTrainEdges ? sample_time - train_start > window_ticks
                                    : sample_time - sequence.LastEdgeTicks() > gap_ticks;
      } else {
        const auto result =
            platform_.scheduler.WaitAny(event, n < kLongTrainEdges ? kFirstWaitMs : kNextWaitMs);
        ended = result.kind == platform::WaitResult::kTimeout ||
                sample_time - sequence.LastEdgeTicks() > stuck_ticks;
      }
    } while (!ended && n < kMaxCapturedEdges);

    train.LastEdgeIndex = n - 1;
    train.TicksPerSecond = receiver_.TicksPerSecond();
    return !(read_failed && n == 0);
  }

  void ApplySequenceRule(const ReceiverSettings& settings) {
    switch (state_.Sequence.FinishTrain(settings.CommandOrder, receiver_.PluginOpen())) {
      case TrainAction::kDecode:
        receiver_.DecodeTrain();
        break;
      case TrainAction::kEndThread:
        receiver_.SetTerminated();
        break;
      case TrainAction::kDiscard:
        break;
    }
  }

  // Discards changes until the line has been quiet for kDrainQuietMs, leaving a wait
  // pending; gives up after kDrainLimitSeconds so that requests are still served.
  void Drain() {
    const int64_t start = receiver_.ReadTimestamp();
    const int64_t limit_ticks = SecondsToTicks(receiver_.TicksPerSecond(), kDrainLimitSeconds);
    for (int checks = 0; checks < kDrainMaxChecks; ++checks) {
      if (port_->EventWaitCompleted()) {
        port_->StartEventWait();
        if (receiver_.ReadTimestamp() - start > limit_ticks) return;
        continue;
      }
      platform_.scheduler.SleepMs(kDrainQuietMs);
      if (!port_->EventWaitCompleted()) return;
    }
  }

  SerialCaptureReceiver& receiver_;
  const SerialCapturePlatform& platform_;
  SerialCaptureState& state_;
  platform::SerialPort* port_ = nullptr;
};

// SerialCaptureReceiver over the receiver thread object.
class ThreadSide : public SerialCaptureReceiver {
 public:
  explicit ThreadSide(TCommThread& receiver) : receiver_(receiver) {}

  ReceiverSettings& Settings() override { return receiver_.Settings(); }
  int64_t ReadTimestamp() override { return receiver_.ReadTimestamp(); }
  void Calibrate() override { receiver_.Calibrate(); }
  double TicksPerSecond() const override { return receiver_.Time().TicksPerSecond; }
  int64_t SequenceGapTicks() const override { return receiver_.Time().SequenceGapTicks; }
  int64_t TrainStartWindowTicks() const override { return receiver_.Time().TrainStartWindowTicks; }
  int64_t EdgeGapTicks() const override { return receiver_.Time().EdgeGapTicks; }
  uint32_t FirstWaitMs() const override {
    return static_cast<uint32_t>(receiver_.FirstWaitMs() > 0 ? receiver_.FirstWaitMs()
                                                             : kFirstWaitMs);
  }
  uint32_t NextWaitMs() const override {
    return static_cast<uint32_t>(receiver_.NextWaitMs() > 0 ? receiver_.NextWaitMs() : kNextWaitMs);
  }
  platform::Waitable& TerminateEvent() override { return receiver_.TerminateEvent(); }
  platform::Waitable& StartEvent() override { return receiver_.StartEvent(); }
  platform::Waitable& StopEvent() override { return receiver_.StopEvent(); }
  void SetRunningAndAcknowledge(bool running) override { receiver_.Acknowledge(running); }
  void SetTerminated() override { receiver_.SetTerminated(); }
  bool Terminated() const override { return receiver_.Terminated(); }
  PulseTrain& Train() override { return receiver_.Train(); }
  bool PluginOpen() const override { return receiver_.Host().PluginOpen(); }
  void DecodeTrain() override { receiver_.DecodePulseTrain(); }
  std::string TranslateText(const std::string& text) override {
    return receiver_.Host().TranslateText(text);
  }

 private:
  TCommThread& receiver_;
};

}  // namespace

void SerialCaptureRun::Run(TCommThread& receiver) {
  ThreadSide side(receiver);
  platform::Platform& platform = receiver.Platform();
  RunSerialCapture(side, {platform.scheduler, platform.serial_ports, platform.message_boxes},
                   state_);
}

InputLine InputLineFor(uint8_t input_signal) {
  return input_signal < kInputLines.size() ? kInputLines[input_signal] : kInputLines[1];
}

void RunSerialCapture(SerialCaptureReceiver& receiver, const SerialCapturePlatform& platform,
                      SerialCaptureState& state) {
  Capture(receiver, platform, state).Run();
}

}  // namespace sfh56
