#include "receiver/capture_seams.h"

namespace sfh56 {

Wake WaitForWake(platform::Scheduler& scheduler, const ControlEvents& events,
                 platform::Waitable* device, uint32_t timeout_ms) {
  platform::Waitable* objects[] = {&events.terminate, &events.start, &events.stop, device};
  const size_t count = device != nullptr ? 4 : 3;
  const platform::WaitResult result =
      scheduler.WaitAny(std::span<platform::Waitable* const>(objects, count), timeout_ms);
  switch (result.kind) {
    case platform::WaitResult::kSignaled:
      switch (result.index) {
        case 0:
          return Wake::kTerminate;
        case 1:
          return Wake::kStart;
        case 2:
          return Wake::kStop;
        case 3:
          return Wake::kDevice;
        default:
          return Wake::kFailed;
      }
    case platform::WaitResult::kTimeout:
      return Wake::kTimeout;
    case platform::WaitResult::kAbandoned:
      return Wake::kAbandoned;
    case platform::WaitResult::kFailed:
      return Wake::kFailed;
  }
  return Wake::kFailed;
}

RequestAnswer AnswerRequest(ControlChannel& control, Wake wake) {
  switch (wake) {
    case Wake::kTerminate:
      control.SetTerminated();
      return RequestAnswer::kEndRun;
    case Wake::kStart:
      control.Acknowledge(true);
      return RequestAnswer::kGoOn;
    case Wake::kStop:
      control.Acknowledge(false);
      return RequestAnswer::kEndRun;
    default:
      return RequestAnswer::kNotARequest;
  }
}

}  // namespace sfh56
