#include "receiver/capture_run.h"

#include "receiver/comm_thread.h"

namespace sfh56 {

void NoDeviceCaptureRun::Run(TCommThread& receiver) {
  receiver.Acknowledge(true);
  const auto objects = receiver.ControlWaitables();
  for (;;) {
    const platform::WaitResult result =
        receiver.Platform().scheduler.WaitAny(objects, platform::kWaitInfinite);
    if (result.kind != platform::WaitResult::kSignaled) {
      // A wait that cannot be made would spin here; give the thread up instead.
      receiver.SetTerminated();
      return;
    }
    if (receiver.AnswerControlRequest(result.index) == ControlAnswer::kEndRun) return;
  }
}

}  // namespace sfh56
