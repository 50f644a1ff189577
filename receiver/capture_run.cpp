#include "receiver/capture_run.h"

namespace sfh56 {

void NoDeviceCaptureRun::Run(const CaptureSeams& seams) {
  ControlChannel& control = seams.control;
  control.Acknowledge(true);
  for (;;) {
    const RequestAnswer answer = AnswerRequest(control, control.Wait(platform::kWaitInfinite));
    if (answer == RequestAnswer::kNotARequest) {
      // A wait that cannot be made would spin here; give the thread up instead.
      control.SetTerminated();
      return;
    }
    if (answer == RequestAnswer::kEndRun) return;
  }
}

}  // namespace sfh56
