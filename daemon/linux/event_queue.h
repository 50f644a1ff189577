#pragma once
// Carries a source thread's line changes to the run loop's thread. The run loop polls
// the queue's eventfd; a source that outruns it (a fast replay) waits for room.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "daemon/pulse_sink.h"

namespace sfh56::daemon {

class EventQueue : public PulseSink {
 public:
  EventQueue();
  ~EventQueue() override;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Source side.
  void Edge(bool mark, int64_t at_ns) override;
  void Quiet(int64_t until_ns) override;
  void Lost(int64_t at_ns) override;
  void Captured(const PulseTrain& train) override;
  void NoChangeBefore(int64_t at_ns) override { no_change_before_.store(at_ns); }
  // The source has ended (its input is finished, or it stopped for good).
  void SourceEnded();

  // Run-loop side: the descriptor that is readable while events wait.
  int Fd() const { return fd_; }
  // Hands every waiting event to sink; true once the source has ended and everything
  // it sent was handed on.
  bool DrainInto(PulseSink& sink);
  // What the source last said of the changes it has yet to push.
  int64_t NoChangeBeforeNs() const { return no_change_before_.load(); }
  // Wakes a source waiting for room, for good (the daemon stops).
  void Close();

 private:
  struct Event {
    enum class Kind : uint8_t { kEdge, kQuiet, kLost, kCaptured, kEnded } kind;
    bool mark = false;
    int64_t ns = 0;
    std::unique_ptr<PulseTrain> train;
  };
  void Push(Event event);

  static constexpr size_t kMaxEvents = 4096;
  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable room_;
  std::deque<Event> events_;
  bool closed_ = false;
  std::atomic<int64_t> no_change_before_{kNoChangeYet};
};

}  // namespace sfh56::daemon
