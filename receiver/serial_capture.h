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
#include "platform/serial_port.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "receiver/capture_run.h"
#include "receiver/capture_seams.h"
#include "receiver/ring0_capture.h"
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

// What lives across the trains of one capture run: the line's modem-status bit (the
// line's last status lives in the train pipeline's assembler).
struct SerialCaptureState {
  uint32_t SignalMask = 0;
};

// What a capture run's platform offers. Without ring-0 capture, AllowRing0 is cleared at
// the start of every run.
struct SerialCapturePlatform {
  platform::Scheduler& scheduler;
  platform::SerialPorts& ports;
  platform::MessageBoxes& message_boxes;
  Ring0Capture* ring0 = nullptr;
};

// Runs one serial capture run, from the start request to the stop request (or
// termination, or failure to open), as the capture run contract (receiver/capture_run.h)
// describes. While AllowRing0 holds, every train comes from the ring-0 routine; when the
// port's I/O base cannot be found at the start, AllowRing0 is cleared (until the settings
// are loaded again) and the calibration that follows measures the counter that choice
// leaves.
void RunSerialCapture(const CaptureSeams& seams, const SerialCapturePlatform& platform,
                      SerialCaptureState& state);

// The serial capture as the receiver thread's capture run for CaptureSource::kSerial.
class SerialCaptureRun : public CaptureRun {
 public:
  explicit SerialCaptureRun(const SerialCapturePlatform& platform) : platform_(platform) {}
  void Run(const CaptureSeams& seams) override;

 private:
  SerialCapturePlatform platform_;
  SerialCaptureState state_;
};

}  // namespace sfh56
