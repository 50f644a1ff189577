#pragma once
// The train pipeline: the one road from a capture source to a code. A source pushes what
// it sees of the receiver's line; the pipeline assembles the trains by the capture rules
// (a train ends after 30 ms without a change while it has fewer than ten edges, after
// 13 ms from then on, or at 300 edges; the changes of the next 6 ms quiet step are
// drained), counts them by the sequence rule (CommandOrder, the half-second sequence
// time-out), decodes each admitted train with the BitMask setting and the decoding the
// StableCodes setting chooses (DecodePulseTrain or DecodeStable, pure functions), keeps the last
// code for repeat frames, writes the service log in service mode and hands the code to its outlet.
// Nothing in it waits, allocates or knows a thread: it runs on the source's thread, one call at a
// time.
//
// A source feeds it in one of three ways:
//
//   durations   a device that reports durations (a kernel IR device's pulses and spaces,
//               a recording): PushDuration(mark, microseconds) for each level held, in
//               order, and PushTimeout() when the device reports that the line has been
//               quiet (a time-out): a mark still held then ends (a space goes on, no
//               change), the open train is finished and time moves on past its quiet time and the
//               drain, so the next duration starts a new train. Push the time-out in place
//               of the space that ends a train; a later space is the pause between trains
//               (it tells the sequence time-out how long the pause was). Train ends that
//               the durations themselves show (a long space) are found at once.
//                 pipeline.StartCapture(CapturePath::kSerial);
//                 pipeline.SetTicksPerSecond(1e6);  // timestamps in microseconds
//                 pipeline.PushDuration(true, 9000); pipeline.PushDuration(false, 4500); ...
//                 pipeline.PushTimeout();
//   edges       a source that samples the line itself (a serial pin): BeginTrain at the
//               first change it notices, PushEdge(status, ticks) for every sample,
//               EndTrain() when Assembly() says the train is over (QuietLimitMs for a
//               source that waits for changes, EndsAt for one that polls, Full); it then
//               discards the changes of the drain itself (DrainLine, train_assembler.h).
//   whole trains   a source that writes a train by its own rules (ring-0 storage, the USB
//               receiver's duration bytes) fills Train() and calls FinishTrain().
//
// Every path answers with the sequence rule's TrainAction: kEndThread means a train was
// admitted while the outlet is closed (the host closed the plugin): the source must end.
//
// The outlet (CodeOutlet) receives each code with the decoder's account of it: a full
// decode's code, or for a repeat frame the previous code again (empty before any). With
// service mode on and a log given, the log's head is written before the delivery and its
// code line after it.

#include <cstdint>
#include <string_view>

#include "common/pulse_train.h"
#include "config/receiver_settings.h"
#include "decode/decoder.h"
#include "decode/sequence_rule.h"
#include "decode/stable_decoder.h"
#include "receiver/train_assembler.h"

namespace sfh56 {

// Where the pipeline's codes go: the host delivery in the plugin, a tool's printer, a
// daemon's outputs.
class CodeOutlet {
 public:
  virtual ~CodeOutlet() = default;
  // A code to hand on: decoded.outcome is kFull for a decoded train, kRepeat for a repeat
  // frame (code is then the previous code). code stays valid until the next decode.
  virtual void Deliver(std::string_view code, const DecodedTrain& decoded) = 0;
  // Admitted trains are decoded only while this holds (the host has the plugin open).
  virtual bool Open() const { return true; }
  // Every finished train, empty ones included, before the sequence rule (diagnostics,
  // measurements, tools that collect trains).
  virtual void TrainCaptured(const PulseTrain& /*train*/) {}
  // Every train the sequence rule admits while Open(), before its decode.
  virtual void TrainAdmitted(const PulseTrain& /*train*/) {}
};

class TrainPipeline {
 public:
  // settings: CommandOrder, BitMask, StableCodes, ServiceMode and (durations) PriorityLevel
  // are read at every train, so a change made while capture is stopped holds from the next
  // one. log: where service mode writes (null: no log).
  TrainPipeline(const ReceiverSettings& settings, CodeOutlet& outlet,
                ServiceLogSink* log = nullptr);
  TrainPipeline(const TrainPipeline&) = delete;
  TrainPipeline& operator=(const TrainPipeline&) = delete;

  // Capture starts: the sequence count (and on the serial path its last edge) is reset;
  // durations start again at time 0 (start_ticks), with the line idle and no train open.
  void StartCapture(CapturePath path, int64_t start_ticks = 0);
  // The rate of the source's timestamps (durations: of the ticks they become).
  void SetTicksPerSecond(double ticks_per_second) { train_.TicksPerSecond = ticks_per_second; }

  // --- Durations ----------------------------------------------------------------------
  // The line changes to mark (pin clear) or space (pin set, idle) now and holds that level
  // for microseconds. A level equal to the line's is no change: time passes only. In
  // busy-polling mode (PriorityLevel 8) trains end as a polling source ends them.
  TrainAction PushDuration(bool mark, double microseconds);
  // The device's time-out: see the header comment.
  TrainAction PushTimeout();

  // --- Edges --------------------------------------------------------------------------
  // A train noticed at start_ticks: the sequence time-out against the last recorded edge.
  void BeginTrain(int64_t start_ticks, int64_t sequence_gap_ticks);
  // One sample of the masked line status; true when it was recorded as an edge.
  bool PushEdge(uint32_t status, int64_t ticks) { return line_.Sample(status, ticks); }
  // The train's state for the source's end tests, and the line's last status.
  const TrainAssembler& Assembly() const { return line_; }
  TrainAssembler& Line() { return line_; }
  // The train sampled since BeginTrain is over.
  TrainAction EndTrain();

  // --- Whole trains -------------------------------------------------------------------
  // The train a source fills in place; records beyond the new ones keep earlier values.
  PulseTrain& Train() { return train_; }
  // The sequence rule (ring-0 storage hands its count and last edge to and fro).
  SequenceRule& Sequence() { return sequence_; }
  // Train() is complete: counted, and decoded when admitted.
  TrainAction FinishTrain();

  // CodeBuffer: the last decoded code, re-sent for a repeat frame.
  std::string_view LastCode() const { return last_code_.Code(); }

 private:
  // A change of the line at time_us on the durations clock.
  TrainAction Change(uint32_t status, double time_us);
  // Ends the open train when no change can come before now_us_ (durations).
  TrainAction EndIfQuietUntilNow();
  // The open train's end test (durations): the reference time and the quiet limit.
  double QuietReferenceUs() const;
  double QuietLimitUs() const;
  TrainAction EndDurationTrain(double end_us);
  int64_t TicksAt(double time_us) const;
  bool BusyPolling() const;
  void Decode();

  enum class DurationState { kIdle, kInTrain, kDraining };

  const ReceiverSettings& settings_;
  CodeOutlet& outlet_;
  ServiceLogSink* log_;
  PulseTrain train_;
  TrainAssembler line_;
  SequenceRule sequence_;
  DecoderState last_code_;
  // The durations clock: the time of the next change, and what the line does.
  int64_t start_ticks_ = 0;
  double now_us_ = 0.0;
  uint32_t line_status_ = kIdleStatus;
  DurationState state_ = DurationState::kIdle;
  double train_start_us_ = 0.0;
  double last_sample_us_ = 0.0;
  double drain_until_us_ = 0.0;
};

}  // namespace sfh56
