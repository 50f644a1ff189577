#pragma once
// What a capture run sees of the receiver: a few small seams, each with the operations
// the capture paths use, so that serial, USB and ring-0 capture need only what they use
// and a test double implements a handful of methods.
//
//   ControlChannel  the host's requests: wait for one (with a time-out, beside the
//                   capture's own device object), acknowledge, end the thread
//   CaptureClock    the time base: timestamps, calibration, thresholds
//   settings        the ReceiverSettings the run works with (read when it starts)
//   TrainPipeline   where every train goes (receiver/train_pipeline.h): assembly, the
//                   sequence rule, decoding, the service log and the outlet, the same for
//                   every path
//   Translator      the host's translation of message texts

#include <cstdint>
#include <string>

#include "common/pulse_train.h"
#include "config/receiver_settings.h"
#include "decode/sequence_rule.h"
#include "platform/sync.h"
#include "receiver/time_base.h"
#include "receiver/train_pipeline.h"

namespace sfh56 {

// What woke a wait of the receiver thread.
enum class Wake {
  kTerminate,  // the terminate request (wins over everything else signalled with it)
  kStart,      // a start request
  kStop,       // a stop request
  kDevice,     // the capture's own device object
  kTimeout,    // nothing within the time-out
  kAbandoned,  // an abandoned object
  kFailed,     // the wait could not be made
};

// The receiver's control events.
struct ControlEvents {
  platform::Waitable& terminate;
  platform::Waitable& start;
  platform::Waitable& stop;
};

// One wait for the control events and, when given, a device object: terminate, start,
// stop and the device at wait indices 0 to 3, the lowest signalled index reported.
Wake WaitForWake(platform::Scheduler& scheduler, const ControlEvents& events,
                 platform::Waitable* device, uint32_t timeout_ms);

class ControlChannel {
 public:
  virtual ~ControlChannel() = default;
  // Waits at most timeout_ms for a host request or the device object (may be null).
  virtual Wake Wait(uint32_t timeout_ms, platform::Waitable* device = nullptr) = 0;
  // Running := running, then AckEvent is set. A capture run acknowledges once that it has
  // started or failed to open, and once for every request it serves.
  virtual void Acknowledge(bool running) = 0;
  virtual void SetTerminated() = 0;
  virtual bool Terminated() const = 0;
};

enum class RequestAnswer {
  kGoOn,         // a start request: acknowledged with Running true, capture goes on
  kEndRun,       // a stop request (acknowledged with Running false) or the terminate
                 // request (Terminated set): the capture run ends
  kNotARequest,  // the device, a time-out or a failed wait: the caller decides
};

// The one answer to a host request while capture runs, for every capture path.
RequestAnswer AnswerRequest(ControlChannel& control, Wake wake);

// The time base as capture uses it.
class CaptureClock {
 public:
  virtual ~CaptureClock() = default;
  virtual int64_t ReadTimestamp() = 0;
  // Measures the counter's rate again; the thresholds follow.
  virtual void Calibrate() = 0;
  virtual TimeBaseThresholds Thresholds() const = 0;
};

class Translator {
 public:
  virtual ~Translator() = default;
  // The host's translation of a message text (the text itself when the host has none).
  virtual std::string TranslateText(const std::string& text) = 0;
};

// Everything a capture run sees of the receiver.
struct CaptureSeams {
  ControlChannel& control;
  CaptureClock& clock;
  ReceiverSettings& settings;
  TrainPipeline& trains;
  Translator& texts;
};

}  // namespace sfh56
