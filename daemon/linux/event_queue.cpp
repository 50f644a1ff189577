#include "daemon/linux/event_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace sfh56::daemon {

EventQueue::EventQueue() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

EventQueue::~EventQueue() {
  close(fd_);
}

void EventQueue::Push(Event event) {
  std::unique_lock lock(mutex_);
  room_.wait(lock, [&] { return closed_ || events_.size() < kMaxEvents; });
  if (closed_) return;
  const bool was_empty = events_.empty();
  events_.push_back(std::move(event));
  lock.unlock();
  if (was_empty) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
  }
}

void EventQueue::Edge(bool mark, int64_t at_ns) {
  Push({Event::Kind::kEdge, mark, at_ns, nullptr});
}
void EventQueue::Quiet(int64_t until_ns) {
  Push({Event::Kind::kQuiet, false, until_ns, nullptr});
}
void EventQueue::Lost(int64_t at_ns) {
  Push({Event::Kind::kLost, false, at_ns, nullptr});
}
void EventQueue::Captured(const PulseTrain& train) {
  Push({Event::Kind::kCaptured, false, 0, std::make_unique<PulseTrain>(train)});
}
void EventQueue::SourceEnded() {
  Push({Event::Kind::kEnded, false, 0, nullptr});
}

bool EventQueue::DrainInto(PulseSink& sink) {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(fd_, &count, sizeof count);
  std::deque<Event> events;
  {
    std::lock_guard lock(mutex_);
    events.swap(events_);
  }
  room_.notify_all();
  bool ended = false;
  for (Event& event : events) {
    switch (event.kind) {
      case Event::Kind::kEdge:
        sink.Edge(event.mark, event.ns);
        break;
      case Event::Kind::kQuiet:
        sink.Quiet(event.ns);
        break;
      case Event::Kind::kLost:
        sink.Lost(event.ns);
        break;
      case Event::Kind::kCaptured:
        sink.Captured(*event.train);
        break;
      case Event::Kind::kEnded:
        ended = true;
        break;
    }
  }
  return ended;
}

void EventQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  room_.notify_all();
}

}  // namespace sfh56::daemon
