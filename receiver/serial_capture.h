#pragma once
// Edge capture from a serial port: an infrared demodulator drives one modem-status line
// (CTS, DSR or DCD) and is powered from RTS and DTR. One capture run opens and arms the
// port, checks that the receiver idles at its set level, and then turns every burst of
// line changes into a PulseTrain, counts it for the sequence rule and hands admitted
// trains to the decoder, until the host stops capture or the thread is terminated.

#include <cstdint>
#include <string>

#include "common/identity.h"
#include "common/pulse_train.h"
#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "decode/sequence_rule.h"
#include "platform/serial_port.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "receiver/capture_run.h"
#include "receiver/comm_thread.h"
#include "receiver/train_assembler.h"

namespace sfh56 {

inline constexpr char kUnableToOpenPortText[] = "Unable to open COM port";
inline constexpr char kReceiverWarningText[] =
    "Warning: There may be hardware problem in receiver!";

// A port name is copied into an 11-character buffer with its terminating zero.
inline constexpr size_t kMaxPortNameChars = 10;

inline constexpr uint32_t kPortQueueBytes = 1;
inline constexpr double kReceiverCheckSeconds = 3.0;
inline constexpr uint32_t kArmDelayMs = 200;
// A line that never settles must not keep the receiver from its host's requests: the
// drain gives up after this long and the main wait takes requests before new edges.
inline constexpr double kDrainLimitSeconds = 1.0;
inline constexpr int kDrainMaxChecks = 100000;
// When status reads fail (the port has gone) the capture rests this long between
// comm events instead of spinning.
inline constexpr uint32_t kFailedPortBackoffMs = 100;

// The line table, indexed by InputSignal.
struct InputLine {
  uint32_t event_mask;
  uint32_t status_bit;
};
// Falls back to DSR for a value outside 0..2 (settings loading never yields one).
InputLine InputLineFor(uint8_t input_signal);

// The receiver thread's side of a capture run: its settings, time base, control
// handshake and the train with its consumer.
class SerialCaptureReceiver {
 public:
  virtual ~SerialCaptureReceiver() = default;

  virtual ReceiverSettings& Settings() = 0;

  virtual int64_t ReadTimestamp() = 0;
  virtual void Calibrate() = 0;
  virtual double TicksPerSecond() const = 0;
  virtual int64_t SequenceGapTicks() const = 0;
  virtual int64_t TrainStartWindowTicks() const = 0;
  virtual int64_t EdgeGapTicks() const = 0;

  virtual platform::Waitable& TerminateEvent() = 0;
  virtual platform::Waitable& StartEvent() = 0;
  virtual platform::Waitable& StopEvent() = 0;
  // Running := running, then AckEvent set.
  virtual void SetRunningAndAcknowledge(bool running) = 0;
  virtual void SetTerminated() = 0;
  virtual bool Terminated() const = 0;

  virtual PulseTrain& Train() = 0;
  virtual bool PluginOpen() const = 0;
  // Decodes Train() and delivers its code (Delivering set around the delivery).
  virtual void DecodeTrain() = 0;
  virtual std::string TranslateText(const std::string& text) = 0;
  // A train has been captured (for diagnostics and measurements; may do nothing).
  virtual void OnTrainCaptured() {}
};

// What lives across trains of one capture run: the sequence rule's TrainCount and
// LastEdgeTime, and the assembler with the line's last status.
struct SerialCaptureState {
  SequenceRule Sequence;
  TrainAssembler Assembler;
  uint32_t SignalMask = 0;
};

// What a capture run's platform offers.
struct SerialCapturePlatform {
  platform::Scheduler& scheduler;
  platform::SerialPorts& ports;
  platform::MessageBoxes& message_boxes;
};

// Runs one serial capture run, from the start request to the stop request (or
// termination, or failure to open). Sets Running and AckEvent as the thread body
// requires. Ring-0 capture is not part of this build: AllowRing0 is cleared.
void RunSerialCapture(SerialCaptureReceiver& receiver, const SerialCapturePlatform& platform,
                      SerialCaptureState& state);

// The serial capture as the receiver thread's capture run for port names (every name
// but "USB"). Keeps the capture variables between runs and hands admitted trains to the
// receiver's decoder.
class SerialCaptureRun : public CaptureRun {
 public:
  void Run(TCommThread& receiver) override;

 private:
  SerialCaptureState state_;
};

}  // namespace sfh56
