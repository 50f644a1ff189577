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
  // may retry after a new calibration or go on regardless. Leaves the line's last status
  // (masked) as the previous status of the first train.
  void CheckReceiver(const ReceiverSettings& settings) {
    uint32_t status = 0;
    for (;;) {
      receiver_.Calibrate();
      const int64_t deadline = receiver_.ReadTimestamp() +
                               SecondsToTicks(receiver_.TicksPerSecond(), kReceiverCheckSeconds);
      bool expired = false;
      for (;;) {
        const int64_t now = receiver_.ReadTimestamp();
        expired = now > deadline;
        status = 0;
        port_->GetModemStatus(status);
        if ((status & state_.SignalMask) != 0 || expired) break;
        if (settings.InputSignal == kInputDcd) break;
      }
      if (!expired) break;
      const int answer = platform_.message_boxes.Show(
          receiver_.TranslateText(kReceiverWarningText), kPluginName,
          platform::kMbRetryCancel | platform::kMbIconQuestion | platform::kMbTopmost);
      if (answer != platform::kIdRetry) break;
    }
    state_.Assembler.SetPrevStatus(status & state_.SignalMask);
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
    TrainAssembler& assembler = state_.Assembler;
    const int64_t train_start = receiver_.ReadTimestamp();
    SequenceRule& sequence = state_.Sequence;
    sequence.StartTrain(train_start, receiver_.SequenceGapTicks());
    assembler.Begin(train.Edges.data(), train_start);

    const bool busy = settings.PriorityLevel >= kBusyPollingPriorityLevel;
    const TrainLimits limits{receiver_.TrainStartWindowTicks(), receiver_.EdgeGapTicks()};
    const int64_t stuck_ticks =
        SecondsToTicks(receiver_.TicksPerSecond(), kMaxEventsWithoutEdgeSeconds);
    platform::Waitable* event[] = {&port_->EventWaitObject()};

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
      assembler.Sample(status & state_.SignalMask, sample_time);
      port_->StartEventWait();
      if (busy) {
        ended = assembler.EndsAt(sample_time, limits);
      } else {
        const auto result = platform_.scheduler.WaitAny(event, assembler.QuietLimitMs());
        ended = result.kind == platform::WaitResult::kTimeout ||
                sample_time - assembler.LastEdgeTicks() > stuck_ticks;
      }
    } while (!ended && !assembler.Full());

    if (assembler.Count() > 0) sequence.EdgeRecorded(assembler.LastEdgeTicks());
    train.LastEdgeIndex = assembler.Count() - 1;
    train.TicksPerSecond = receiver_.TicksPerSecond();
    return !(read_failed && assembler.Count() == 0);
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

  // The drain on the port's comm-event wait; gives up after kDrainLimitSeconds so that
  // requests are still served when the line never settles.
  class DrainedPort {
   public:
    DrainedPort(Capture& capture)
        : capture_(capture),
          start_(capture.receiver_.ReadTimestamp()),
          limit_ticks_(SecondsToTicks(capture.receiver_.TicksPerSecond(), kDrainLimitSeconds)) {}
    bool ChangePending() { return capture_.port_->EventWaitCompleted(); }
    void Rearm() { capture_.port_->StartEventWait(); }
    bool DrainTooLong() { return capture_.receiver_.ReadTimestamp() - start_ > limit_ticks_; }
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
