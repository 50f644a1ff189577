#pragma once
// One capture run: what the receiver thread does between a start request and the stop
// request that ends it. Serial capture and USB capture are capture runs; the thread
// body chooses one by the setting ComName at each start.
//
// Contract of Run, which executes on the receiver thread and sees the receiver only
// through its seams (receiver/capture_seams.h):
// - It is entered after the thread took a start request and applied the priority level.
// - It acknowledges exactly once that it has started or failed to open:
//   control.Acknowledge(true) once capturing, control.Acknowledge(false) when the port
//   or library cannot be used (after showing its message); it then returns at once.
// - While capturing it waits with control.Wait (beside its own device object, if any)
//   and answers every request with AnswerRequest, the common answer for all paths.
// - Every train goes into the train pipeline (seams.trains); a kEndThread answer ends
//   the thread.
// - It returns when a stop request or termination ends it, having closed what it opened.
//   The thread body restores the process priority class afterwards in every case.

#include "receiver/capture_seams.h"

namespace sfh56 {

class CaptureRun {
 public:
  virtual ~CaptureRun() = default;
  virtual void Run(const CaptureSeams& seams) = 0;
};

// A capture run with no device behind it: it opens nothing, reports itself running and
// serves requests until a stop or the terminate request. Stands in for a capture whose
// device support is not part of the build.
class NoDeviceCaptureRun : public CaptureRun {
 public:
  void Run(const CaptureSeams& seams) override;
};

}  // namespace sfh56
