#pragma once
// One capture run: what the receiver thread does between a start request and the stop
// request that ends it. Serial capture and USB capture are capture runs; the thread
// body chooses one by the setting ComName at each start.
//
// Contract of Run, which executes on the receiver thread:
// - It is entered after the thread took a start request and applied the priority level.
// - It acknowledges exactly once that it has started or failed to open:
//   receiver.Acknowledge(true) once capturing, receiver.Acknowledge(false) when the port
//   or library cannot be used (after showing its message); it then returns at once.
// - While capturing it waits on receiver.ControlWaitables() (terminate, start, stop at
//   indices 0, 1, 2, lowest signalled index first) plus its own objects from index 3,
//   and hands every request index to receiver.AnswerControlRequest, which gives the
//   common answers (start: Running stays true, acknowledged; stop: Running false,
//   acknowledged; terminate: Terminated set) and says whether the run must end.
// - It returns when a stop request or termination ends it, having closed what it opened.
//   The thread body restores the process priority class afterwards in every case.

namespace sfh56 {

class TCommThread;

class CaptureRun {
 public:
  virtual ~CaptureRun() = default;
  virtual void Run(TCommThread& receiver) = 0;
};

// A capture run with no device behind it: it opens nothing, reports itself running and
// serves requests until a stop or the terminate request. Stands in for a capture whose
// device support is not part of the build.
class NoDeviceCaptureRun : public CaptureRun {
 public:
  void Run(TCommThread& receiver) override;
};

}  // namespace sfh56
